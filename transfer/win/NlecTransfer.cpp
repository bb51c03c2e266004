// NLEC text tables sent to and fetched from the unit (first definitions so the program links).
#include "transfer/win/NlecTransfer.h"

int SendNlecFile(HWND, int) { return 0; }
int GetNlecFile(HWND, int) { return 0; }
void HandleNlecPacket(HWND, PacketRecord*) {}
