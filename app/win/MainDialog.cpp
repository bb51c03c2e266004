// The main dialog's procedure: start-up, the timer, the two private messages, resizing and
// shutdown. Commands go to the command table; everything else is the default handling.
#include "app/win/MainDialog.h"

#include "app/DialogIds.h"
#include "app/PortButtons.h"
#include "app/Texts.h"
#include "app/win/CommandTable.h"
#include "app/win/ConnectionMonitor.h"
#include "app/win/DialogActivityView.h"
#include "app/win/FramePoster.h"
#include "app/win/PortChoice.h"
#include "app/win/ProgressBar.h"
#include "app/win/TransferPresenter.h"
#include "app/win/Wizard.h"
#include "common/Clock.h"
#include "serial/PortNumber.h"
#include "serial/win/CommEventThread.h"
#include "serial/win/CommPort.h"

HINSTANCE g_Instance = nullptr;
HWND g_Dialog = nullptr;
ClientSize InitialClientSize{0, 0};
int WizardState = 1;
int DeviceState = 0;

namespace {

constexpr UINT_PTR kMonitorTimerId = 1;
constexpr UINT kMonitorPeriodMs = 100;
constexpr int kFirstWizardPage = 1;
constexpr int kDownloadDonePage = 7;

uint32_t EngineTick() { return static_cast<uint32_t>(common::SteadyClock().NowMs()); }

// What the glue below the dialog shows in it, the transfers, and the sink that turns received
// bytes into their frames. The comm-event thread and the workers are never waited for and may
// still report, or feed the assembler, while the program ends, so these are made once and
// never destroyed. Each main dialog is shown in them at start-up.
DialogActivityView& ActivityOfDialog = *new DialogActivityView(nullptr);
TransferPresenter& Transfers = *new TransferPresenter(ActivityOfDialog);
FramePoster& ReceivedFrames = *new FramePoster(Transfers.Receiver(), EngineTick);

// The log list's own size at start-up: a resize adds the client area's growth to it, so the
// list keeps its margins when the dialog is maximised.
SIZE LogListBaseSize{0, 0};

void StartUp(HWND dialog) {
    g_Dialog = dialog;
    ActivityOfDialog.ShowIn(dialog);
    Transfers.Attach(dialog);
    ReceivedFrames.PostTo(dialog);  // before any port opens
    SetWindowTextA(dialog, kWindowTitle);
    SetDlgItemTextA(dialog, IDC_STATUS_TEXT, "");
    CreateIndicatorPalette();
    LoadWizardPictures(g_Instance);

    RECT client{};
    GetClientRect(dialog, &client);
    InitialClientSize = {client.right - client.left, client.bottom - client.top};
    RememberLogListSize(dialog);

    const int port = StartPortNumber(LoadPortId(&ActivityOfDialog));
    // A remembered port above the buttons is opened, but no button is shown checked.
    if (const int button = RadioButtonForPort(port); button != 0) {
        CheckRadioButton(dialog, IDC_COM1, IDC_COM4, button);
    }
    SelectCommPort(dialog, ActivityOfDialog, port);  // a failure leaves the dialog running without a port

    CreateLinkOverlappedEvents();
    // Results of the thread and timer creation are not examined.
    StartCommEventThread(ReceivedFrames, ActivityOfDialog);
    SetTimer(dialog, kMonitorTimerId, kMonitorPeriodMs, nullptr);

    WizardState = kFirstWizardPage;
    PaintWizardPage(dialog);  // page 1's texts are in place before the dialog is first shown
}

void Resize(HWND dialog, WPARAM sizeType, LPARAM newSize) {
    if (sizeType != SIZE_RESTORED && sizeType != SIZE_MAXIMIZED) return;
    HWND list = GetDlgItem(dialog, IDC_LOG_LIST);
    if (list == nullptr) return;
    const int width = LOWORD(newSize) - InitialClientSize.width + LogListBaseSize.cx;
    const int height = HIWORD(newSize) - InitialClientSize.height + LogListBaseSize.cy;
    SetWindowPos(list, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
}

void DownloadDone(HWND dialog) {
    progress_bar::Destroy();
    MessageBeep(0);
    WizardState = kDownloadDonePage;  // whatever page was showing
    InvalidateRect(dialog, nullptr, FALSE);
}

void ShutDown() {
    CommThreadStop.store(1);
    CloseCommPort();
}

}  // namespace

ActivityView& DialogActivity() { return ActivityOfDialog; }

void RememberLogListSize(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_LOG_LIST);
    if (list == nullptr) return;
    RECT rect{};
    GetWindowRect(list, &rect);
    LogListBaseSize = {rect.right - rect.left, rect.bottom - rect.top};
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: StartUp(dialog); break;
        case WM_PAINT:
            PaintWizardPage(dialog);
            IndicatorPaintedOver();
            break;
        case WM_TIMER:
            MonitorConnection(dialog);
            Transfers.Tick();
            break;
        case WM_COMMAND: RouteCommand(dialog, LOWORD(wParam), Transfers); break;
        case WM_SIZE: Resize(dialog, wParam, lParam); break;
        case WM_CLOSE: EndDialog(dialog, 0); break;
        case WM_DESTROY: ShutDown(); break;
        case WM_PACKET_RECEIVED: Transfers.DispatchPacket(reinterpret_cast<packetlink::PacketRecord*>(lParam)); break;
        case WM_DOWNLOAD_DONE: DownloadDone(dialog); break;
        default: break;
    }
    // 0 for every message, WM_INITDIALOG included, so the system sets no initial focus.
    return 0;
}
