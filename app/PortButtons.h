// The dialog's four port radio buttons, Com1..Com4, and the port numbers they stand for.
#pragma once

// The radio button shown checked: Com1..Com4 for 1..4; 0 (no button) for a number without
// one, so that no button claims a port that is not the one in use.
int RadioButtonForPort(int portNumber);
// The port that a radio button selects, or 0 when the identifier is not a port button.
int PortForRadioButton(int controlId);
