// The 100 ms look at the port and the unit's CTS line: draws the indicator bar across the
// top of the dialog and keeps DeviceState current. The decision itself is portable
// (app/DeviceMonitor.h); this file reads the line and carries it out.
#include "app/win/ConnectionMonitor.h"

#include "app/DeviceMonitor.h"
#include "app/win/MainDialog.h"
#include "serial/win/CommPort.h"
#include "serial/win/PortIo.h"

using serial::win::CommPortHandle;

namespace {

constexpr int kBarLeft = 10;
constexpr int kBarTop = 1;
constexpr int kBarRightMargin = 10;  // from the initial client width
constexpr int kBarBottom = 8;        // exclusive: the bar covers rows 1 to 7
constexpr int kPenWidth = 1;

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);

// Live as long as the process.
HPEN g_RedPen, g_GreenPen, g_BlackPen;
HBRUSH g_RedBrush, g_GreenBrush, g_BlackBrush;

// The bar is drawn again only when its colour changes or the dialog has been painted since
// (painting may have covered it): idle, nothing else reaches the display each tick.
bool g_BarShown = false;
monitor::BarColour g_BarColour = monitor::BarColour::Black;

void DrawIndicator(HDC dc, monitor::BarColour colour) {
    HPEN pen = g_BlackPen;
    HBRUSH brush = g_BlackBrush;
    if (colour == monitor::BarColour::Red) {
        pen = g_RedPen;
        brush = g_RedBrush;
    } else if (colour == monitor::BarColour::Green) {
        pen = g_GreenPen;
        brush = g_GreenBrush;
    }
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    Rectangle(dc, kBarLeft, kBarTop, InitialClientSize.width - kBarRightMargin, kBarBottom);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
}

monitor::LineReading ReadLine() {
    monitor::LineReading line;
    HANDLE port = CommPortHandle.load();
    line.portOpen = port != nullptr;
    if (!line.portOpen) return line;
    line.statusRead = serial::win::ReadCtsLine(port, &line.ctsOn).Ok();
    return line;
}

}  // namespace

void CreateIndicatorPalette() {
    g_RedPen = CreatePen(PS_SOLID, kPenWidth, kRed);
    g_GreenPen = CreatePen(PS_SOLID, kPenWidth, kGreen);
    g_BlackPen = CreatePen(PS_SOLID, kPenWidth, kBlack);
    g_RedBrush = CreateSolidBrush(kRed);
    g_GreenBrush = CreateSolidBrush(kGreen);
    g_BlackBrush = CreateSolidBrush(kBlack);
}

void IndicatorPaintedOver() { g_BarShown = false; }

void MonitorConnection(HWND dialog) {
    monitor::MonitorOutcome out = monitor::DecideConnection(ReadLine(), DeviceState, WizardState);
    if (!g_BarShown || out.colour != g_BarColour) {
        HDC dc = GetDC(dialog);
        DrawIndicator(dc, out.colour);
        ReleaseDC(dialog, dc);
        g_BarShown = true;
        g_BarColour = out.colour;
    }
    DeviceState = out.deviceState;
    WizardState = out.wizardState;
    if (out.repaint != wizard::Repaint::None)
        InvalidateRect(dialog, nullptr, out.repaint == wizard::Repaint::EraseBackground ? TRUE : FALSE);
}
