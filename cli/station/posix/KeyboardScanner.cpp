// Keyboard-mode scanners on Linux (see KeyboardScanner.h): libevdev reads the key events of a
// grabbed event device; a US key map turns them into characters, Enter ends a code.
#include "cli/station/KeyboardScanner.h"

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/ErrnoText.h"

#ifdef VARNEX_HAVE_LIBEVDEV
#include <libevdev/libevdev.h>
#endif

namespace cli {

namespace {

constexpr const char* kInputPrefix = "/dev/input/";
constexpr int kKeyPressed = 1;  // an EV_KEY value: 0 released, 1 pressed, 2 held (repeat)
constexpr int kKeyReleased = 0;

struct KeyCharacters {
    unsigned code;
    char plain;
    char shifted;
};

// The keys a barcode types on a US layout.
constexpr KeyCharacters kUsKeys[] = {
    {KEY_1, '1', '!'},          {KEY_2, '2', '@'},         {KEY_3, '3', '#'},           {KEY_4, '4', '$'},
    {KEY_5, '5', '%'},          {KEY_6, '6', '^'},         {KEY_7, '7', '&'},           {KEY_8, '8', '*'},
    {KEY_9, '9', '('},          {KEY_0, '0', ')'},         {KEY_MINUS, '-', '_'},       {KEY_EQUAL, '=', '+'},
    {KEY_Q, 'q', 'Q'},          {KEY_W, 'w', 'W'},         {KEY_E, 'e', 'E'},           {KEY_R, 'r', 'R'},
    {KEY_T, 't', 'T'},          {KEY_Y, 'y', 'Y'},         {KEY_U, 'u', 'U'},           {KEY_I, 'i', 'I'},
    {KEY_O, 'o', 'O'},          {KEY_P, 'p', 'P'},         {KEY_LEFTBRACE, '[', '{'},   {KEY_RIGHTBRACE, ']', '}'},
    {KEY_A, 'a', 'A'},          {KEY_S, 's', 'S'},         {KEY_D, 'd', 'D'},           {KEY_F, 'f', 'F'},
    {KEY_G, 'g', 'G'},          {KEY_H, 'h', 'H'},         {KEY_J, 'j', 'J'},           {KEY_K, 'k', 'K'},
    {KEY_L, 'l', 'L'},          {KEY_SEMICOLON, ';', ':'}, {KEY_APOSTROPHE, '\'', '"'}, {KEY_GRAVE, '`', '~'},
    {KEY_BACKSLASH, '\\', '|'}, {KEY_Z, 'z', 'Z'},         {KEY_X, 'x', 'X'},           {KEY_C, 'c', 'C'},
    {KEY_V, 'v', 'V'},          {KEY_B, 'b', 'B'},         {KEY_N, 'n', 'N'},           {KEY_M, 'm', 'M'},
    {KEY_COMMA, ',', '<'},      {KEY_DOT, '.', '>'},       {KEY_SLASH, '/', '?'},       {KEY_SPACE, ' ', ' '},
    {KEY_TAB, '\t', '\t'},      {KEY_KP0, '0', '0'},       {KEY_KP1, '1', '1'},         {KEY_KP2, '2', '2'},
    {KEY_KP3, '3', '3'},        {KEY_KP4, '4', '4'},       {KEY_KP5, '5', '5'},         {KEY_KP6, '6', '6'},
    {KEY_KP7, '7', '7'},        {KEY_KP8, '8', '8'},       {KEY_KP9, '9', '9'},         {KEY_KPMINUS, '-', '-'},
    {KEY_KPDOT, '.', '.'},      {KEY_ENTER, '\r', '\r'},   {KEY_KPENTER, '\r', '\r'},
};

}  // namespace

bool IsKeyboardScannerName(const std::string& device) { return device.rfind(kInputPrefix, 0) == 0; }

char UsKeyCharacter(unsigned code, bool shift) {
    for (const KeyCharacters& key : kUsKeys) {
        if (key.code == code) return shift ? key.shifted : key.plain;
    }
    return 0;
}

#ifdef VARNEX_HAVE_LIBEVDEV

namespace {

// The event device, opened and grabbed, closed with its grab on every path.
class EventDevice {
public:
    ~EventDevice() {
        if (device_ != nullptr) {
            libevdev_grab(device_, LIBEVDEV_UNGRAB);
            libevdev_free(device_);
        }
        if (fd_ >= 0) ::close(fd_);
    }
    // Empty when open; otherwise why not.
    std::string Open(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return common::ErrnoText(errno);
        int status = libevdev_new_from_fd(fd_, &device_);
        if (status < 0) return common::ErrnoText(-status);
        status = libevdev_grab(device_, LIBEVDEV_GRAB);
        if (status < 0) return "cannot take it for varnex alone (" + common::ErrnoText(-status) + ")";
        return "";
    }
    int fd() const { return fd_; }
    libevdev* device() const { return device_; }

private:
    int fd_ = -1;
    libevdev* device_ = nullptr;
};

class KeyboardRun {
public:
    explicit KeyboardRun(const station::ScannerContext& context) : c_(context) {}

    void Run() {
        bool lost = false;
        while (!c_.stop->load()) {
            EventDevice device;
            std::string why = device.Open(c_.device);
            if (why.empty()) {
                if (lost) c_.target->Tell("scanner " + c_.device + " is back");
                lost = false;
                why = Read(device);
                if (why.empty()) return;  // stopped
            }
            if (!lost) c_.target->Tell("scanner lost (" + c_.device + ": " + why + ")");
            lost = true;
            for (uint32_t slept = 0; slept < station::kReopenEveryMs && !c_.stop->load();
                 slept += station::kCtsPollMs) {
                c_.clock->SleepMs(station::kCtsPollMs);
            }
        }
    }

private:
    // Until stopped ("") or the device fails (why).
    std::string Read(EventDevice& device) {
        station::CodeLines lines;
        bool shift = false;
        while (!c_.stop->load()) {
            pollfd entry{device.fd(), POLLIN, 0};
            const int ready = ::poll(&entry, 1, static_cast<int>(station::kScannerReadMs));
            if (ready < 0 && errno != EINTR) return common::ErrnoText(errno);
            if (ready <= 0) continue;
            if (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) return "the device was unplugged";
            input_event event{};
            int status;
            while ((status = libevdev_next_event(device.device(), LIBEVDEV_READ_FLAG_NORMAL, &event)) >= 0) {
                if (status == LIBEVDEV_READ_STATUS_SYNC) continue;  // dropped events: the code is refused as cut
                if (event.type != EV_KEY) continue;
                if (event.code == KEY_LEFTSHIFT || event.code == KEY_RIGHTSHIFT) {
                    shift = event.value != kKeyReleased;
                    continue;
                }
                if (event.value != kKeyPressed) continue;
                char typed = UsKeyCharacter(event.code, shift);
                // A key with no character on the map still counts, so the code is refused.
                if (typed == 0) typed = '?';
                const uint8_t byte = static_cast<uint8_t>(typed);
                for (const std::string& code : lines.Take(&byte, 1)) c_.target->Scanned(code);
            }
            if (status != -EAGAIN) return status == -ENODEV ? "the device was unplugged" : common::ErrnoText(-status);
        }
        return "";
    }

    const station::ScannerContext& c_;
};

}  // namespace

void RunKeyboardScanner(const station::ScannerContext& context) { KeyboardRun(context).Run(); }

#else

void RunKeyboardScanner(const station::ScannerContext& context) {
    context.target->Tell("scanner " + context.device +
                         " not read: this varnex was built without keyboard-mode scanners (libevdev)");
}

#endif

}  // namespace cli
