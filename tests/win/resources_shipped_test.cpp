// The resources of the two shipped programs, read back from the built .exe files: dialog
// template 101 as the operator sees it, and the nine wizard pictures against their files.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/DialogIds.h"

namespace {

// A predefined control class may be named in a template by its atom or by its name.
constexpr uint16_t kButtonAtom = 0x0080;
constexpr uint16_t kStaticAtom = 0x0082;
constexpr uint16_t kOrdinalMark = 0xFFFF;
const wchar_t kButtonClass[] = L"button";
const wchar_t kStaticClass[] = L"static";
constexpr uint16_t kExtendedSignature = 0xFFFF;
constexpr size_t kBitmapFileHeaderBytes = 14;

// The operator's wizard, in dialog units.
constexpr short kWizardWidth = 227;
constexpr short kWizardHeight = 188;
constexpr uint16_t kFontPoints = 10;
constexpr DWORD kDialogStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | DS_MODALFRAME | WS_VISIBLE | DS_SETFONT;

struct Item {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::wstring className;  // lower case; a predefined class's atom is given its name
    std::wstring text;
};

struct Template {
    DWORD style = 0;
    short cx = 0, cy = 0;
    uint16_t points = 0, weight = 0;
    uint8_t italic = 0;
    std::wstring typeface;
    std::vector<Item> items;
};

// Reads an extended dialog template (the form the resource compiler makes of DIALOGEX).
class TemplateReader {
public:
    TemplateReader(const uint8_t* data, size_t size) : p_(data), end_(data + size), begin_(data) {}

    bool Read(Template& out) {
        uint16_t version = Word(), signature = Word();
        if (version != 1 || signature != kExtendedSignature) return false;
        Dword();  // help id
        Dword();  // extended style
        out.style = Dword();
        uint16_t count = Word();
        Word();  // x
        Word();  // y
        out.cx = static_cast<short>(Word());
        out.cy = static_cast<short>(Word());
        NameOrOrdinal();  // menu
        NameOrOrdinal();  // class
        Text();           // caption
        if (out.style & DS_SETFONT) {
            out.points = Word();
            out.weight = Word();
            out.italic = Byte();
            Byte();  // character set
            out.typeface = Text();
        }
        for (uint16_t i = 0; i < count && ok_; ++i) {
            Align();
            Item item;
            Dword();  // help id
            Dword();  // extended style
            item.style = Dword();
            item.x = static_cast<short>(Word());
            item.y = static_cast<short>(Word());
            item.cx = static_cast<short>(Word());
            item.cy = static_cast<short>(Word());
            item.id = Dword();
            item.className = ClassName();
            if (Peek() == kOrdinalMark) {
                item.text = L"#" + std::to_wstring(NameOrOrdinal());
            } else {
                item.text = Text();
            }
            p_ += Word();  // creation data
            out.items.push_back(item);
        }
        return ok_ && p_ <= end_;
    }

private:
    uint16_t Peek() const { return p_ + 2 <= end_ ? static_cast<uint16_t>(p_[0] | p_[1] << 8) : 0; }
    uint8_t Byte() {
        if (p_ + 1 > end_) return Fail();
        return *p_++;
    }
    uint16_t Word() {
        if (p_ + 2 > end_) return Fail();
        uint16_t v = Peek();
        p_ += 2;
        return v;
    }
    DWORD Dword() {
        uint16_t low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }
    std::wstring Text() {
        std::wstring s;
        for (uint16_t c = Word(); c != 0 && ok_; c = Word()) s += static_cast<wchar_t>(c);
        return s;
    }
    // An ordinal's value, or 0 after a name (or nothing).
    uint16_t NameOrOrdinal() {
        if (Peek() == kOrdinalMark) {
            Word();
            return Word();
        }
        Text();
        return 0;
    }
    std::wstring ClassName() {
        if (Peek() != kOrdinalMark) {
            std::wstring name = Text();
            for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
            return name;
        }
        uint16_t atom = NameOrOrdinal();
        if (atom == kButtonAtom) return kButtonClass;
        if (atom == kStaticAtom) return kStaticClass;
        return L"#" + std::to_wstring(atom);
    }
    void Align() {
        while ((p_ - begin_) % sizeof(DWORD) != 0) ++p_;
    }
    uint8_t Fail() {
        ok_ = false;
        p_ = end_;
        return 0;
    }

    const uint8_t* p_;
    const uint8_t* end_;
    const uint8_t* begin_;
    bool ok_ = true;
};

std::wstring BinFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// A built program loaded as data only: its resources, none of its code.
class ShippedProgram {
public:
    explicit ShippedProgram(const wchar_t* name)
        : module_(LoadLibraryExW((BinFolder() + name).c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~ShippedProgram() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    ShippedProgram(const ShippedProgram&) = delete;
    ShippedProgram& operator=(const ShippedProgram&) = delete;

    bool Loaded() const { return module_ != nullptr; }

    std::vector<uint8_t> Resource(int id, LPCWSTR type) const {
        HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(id), type);
        if (found == nullptr) return {};
        HGLOBAL loaded = LoadResource(module_, found);
        const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
        if (bytes == nullptr) return {};
        std::vector<uint8_t> copy(SizeofResource(module_, found));
        if (!copy.empty()) std::memcpy(copy.data(), bytes, copy.size());
        return copy;
    }

    bool MainTemplate(Template& out) const {
        std::vector<uint8_t> data = Resource(IDD_MAIN_DIALOG, reinterpret_cast<LPCWSTR>(RT_DIALOG));
        return !data.empty() && TemplateReader(data.data(), data.size()).Read(out);
    }

private:
    HMODULE module_;
};

constexpr const wchar_t* kOperatorExe = L"Varnex410Download.exe";
constexpr const wchar_t* kServiceExe = L"Varnex410Service.exe";

struct ExpectedItem {
    DWORD id;
    const wchar_t* className;
    short x, y, cx, cy;
    DWORD style;          // beyond WS_CHILD | WS_VISIBLE
    const wchar_t* text;  // nullptr: a placeholder the page painter replaces
};

// The wizard's eleven controls in their tab order.
const ExpectedItem kWizardItems[] = {
    {IDC_CLOSE, kButtonClass, 169, 145, 50, 14, BS_PUSHBUTTON | WS_TABSTOP, L"Close"},
    {IDC_COM1, kButtonClass, 7, 167, 34, 10, BS_AUTORADIOBUTTON, L"Com1"},
    {IDC_COM2, kButtonClass, 67, 167, 34, 10, BS_AUTORADIOBUTTON, L"Com2"},
    {IDC_COM3, kButtonClass, 125, 167, 34, 10, BS_AUTORADIOBUTTON, L"Com3"},
    {IDC_COM4, kButtonClass, 184, 167, 34, 10, BS_AUTORADIOBUTTON, L"Com4"},
    {IDC_NEXT, kButtonClass, 61, 145, 50, 14, BS_PUSHBUTTON | WS_TABSTOP, L"Next"},
    {IDC_FOOTER_TEXT, kStaticClass, 7, 125, 212, 13, SS_LEFT | SS_CENTERIMAGE | WS_GROUP, L"When ready, press NEXT."},
    {IDC_BACK, kButtonClass, 7, 145, 50, 14, BS_PUSHBUTTON | BS_VCENTER | WS_TABSTOP, L"Back"},
    {IDC_TITLE_TEXT, kStaticClass, 7, 7, 212, 18, SS_CENTER | SS_CENTERIMAGE | WS_GROUP,
     L"STEP 1 - Connecting the Cable"},
    {IDC_FIRST_TEXT, kStaticClass, 7, 32, 155, 40, SS_LEFT | WS_GROUP, nullptr},
    {IDC_SECOND_TEXT, kStaticClass, 7, 82, 155, 40, SS_LEFT | WS_GROUP, nullptr},
};

void ExpectWizardItem(const Item& got, const ExpectedItem& want) {
    SCOPED_TRACE(testing::Message() << "control " << want.id);
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.className, want.className);
    EXPECT_EQ(got.style, WS_CHILD | WS_VISIBLE | want.style);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.cx, want.cx);
    EXPECT_EQ(got.cy, want.cy);
    if (want.text != nullptr) {
        EXPECT_EQ(got.text, want.text);
    }
}

bool IsDefaultButton(const Item& item) {
    return item.className == kButtonClass && (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

void ExpectWizardFrame(const Template& dialog) {
    EXPECT_EQ(dialog.style, kDialogStyle);
    EXPECT_EQ(dialog.style & WS_THICKFRAME, 0u) << "no sizing border";
    EXPECT_EQ(dialog.points, kFontPoints);
    EXPECT_EQ(dialog.typeface, L"Arial");
    EXPECT_TRUE(dialog.weight == 0 || dialog.weight == FW_NORMAL) << dialog.weight;
    EXPECT_EQ(dialog.italic, 0);
    for (const Item& item : dialog.items) EXPECT_FALSE(IsDefaultButton(item)) << "control " << item.id;
}

TEST(ShippedTemplate, OperatorBuildPlacesExactlyTheWizard) {
    ShippedProgram program(kOperatorExe);
    ASSERT_TRUE(program.Loaded());
    Template dialog;
    ASSERT_TRUE(program.MainTemplate(dialog));
    EXPECT_EQ(dialog.cx, kWizardWidth);
    EXPECT_EQ(dialog.cy, kWizardHeight);
    ExpectWizardFrame(dialog);
    ASSERT_EQ(dialog.items.size(), std::size(kWizardItems));
    for (size_t i = 0; i < dialog.items.size(); ++i) ExpectWizardItem(dialog.items[i], kWizardItems[i]);
}

TEST(ShippedTemplate, ServiceBuildKeepsTheWizardAndAddsItsPanelBesideIt) {
    ShippedProgram program(kServiceExe);
    ASSERT_TRUE(program.Loaded());
    Template dialog;
    ASSERT_TRUE(program.MainTemplate(dialog));
    ExpectWizardFrame(dialog);
    ASSERT_GT(dialog.items.size(), std::size(kWizardItems));
    // The wizard comes first in the tab order, exactly as the operator build has it.
    for (size_t i = 0; i < std::size(kWizardItems); ++i) ExpectWizardItem(dialog.items[i], kWizardItems[i]);

    const std::set<DWORD> panel = {IDC_CLEAR_LOG,   IDC_LOG_LIST,         IDC_FIXED_REQUEST,    IDC_SEND_NLEC,
                                   IDC_RAW_DATA,    IDC_EXPORT_LOG,       IDC_EXPORT_SELECTION, IDC_STATUS_TEXT,
                                   IDC_ERASE_FLASH, IDC_DOWNLOAD_38400,   IDC_GET_NLEC,         IDC_DOWNLOAD_BOOTLOADER,
                                   IDC_SEND_BITMAP, IDC_RECEIVE_SETTINGS, IDC_SEND_SETTINGS,    IDC_RECEIVE_PROGRAM,
                                   IDC_SEND_PROGRAM};
    short wizardRight = 0, wizardBottom = 0;
    for (const ExpectedItem& item : kWizardItems) {
        wizardRight = std::max<short>(wizardRight, item.x + item.cx);
        wizardBottom = std::max<short>(wizardBottom, item.y + item.cy);
    }
    std::set<DWORD> seen;
    for (size_t i = std::size(kWizardItems); i < dialog.items.size(); ++i) {
        const Item& item = dialog.items[i];
        SCOPED_TRACE(testing::Message() << "control " << item.id);
        EXPECT_TRUE(panel.count(item.id)) << "not a service control";
        EXPECT_TRUE(seen.insert(item.id).second) << "placed twice";
        // Beside or below the wizard's controls, never over them, and inside the dialog.
        EXPECT_TRUE(item.x >= wizardRight || item.y >= wizardBottom) << item.x << "," << item.y;
        EXPECT_LE(item.x + item.cx, dialog.cx);
        EXPECT_LE(item.y + item.cy, dialog.cy);
        EXPECT_EQ(item.style & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
    }
    EXPECT_EQ(seen, panel);
}

// --- the nine pictures ------------------------------------------------------------------

struct Picture {
    int id;
    const char* file;
    WORD bitsPerPixel;
};

constexpr int kPictureWidth = 87;
constexpr int kPictureHeight = 68;
constexpr WORD kSixteenColours = 4;
constexpr WORD kTrueColour = 24;

const Picture kPictures[] = {
    {IDB_ENTER_KEY, "enter_key.bmp", kTrueColour},
    {IDB_SWITCH_OFF, "switch_off.bmp", kSixteenColours},
    {IDB_SWITCH_ON, "switch_on.bmp", kSixteenColours},
    {IDB_CABLE, "cable.bmp", kSixteenColours},
    {IDB_C_KEY, "c_key.bmp", kSixteenColours},
    {IDB_MENU_DISPLAY, "menu_display.bmp", kSixteenColours},
    {IDB_KEY_ONE, "key_one.bmp", kTrueColour},
    {IDB_CABLE_ACTIVE, "cable_active.bmp", kSixteenColours},
    {IDB_DISPLAY_COUNT, "display_count.bmp", kTrueColour},
};

// The checked-in picture, through Wine's drive for the root of the build machine.
std::vector<uint8_t> PictureFile(const char* name) {
    std::string path = std::string("Z:") + VARNEX_SOURCE_DIR + "/resources/pictures/" + name;
    for (char& c : path)
        if (c == '/') c = '\\';
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ShippedPictures, EachBitmapIsItsFileAt87By68AndItsDepth) {
    for (const wchar_t* exe : {kOperatorExe, kServiceExe}) {
        ShippedProgram program(exe);
        ASSERT_TRUE(program.Loaded());
        for (const Picture& picture : kPictures) {
            SCOPED_TRACE(testing::Message() << picture.file << " (" << picture.id << ")");
            std::vector<uint8_t> resource = program.Resource(picture.id, reinterpret_cast<LPCWSTR>(RT_BITMAP));
            ASSERT_GE(resource.size(), sizeof(BITMAPINFOHEADER));
            BITMAPINFOHEADER header;
            std::memcpy(&header, resource.data(), sizeof header);
            EXPECT_EQ(header.biWidth, kPictureWidth);
            EXPECT_EQ(header.biHeight < 0 ? -header.biHeight : header.biHeight, kPictureHeight);
            EXPECT_EQ(header.biBitCount, picture.bitsPerPixel);
            // The resource is the file without its file header: palette and pixels alike.
            std::vector<uint8_t> file = PictureFile(picture.file);
            ASSERT_GT(file.size(), kBitmapFileHeaderBytes);
            EXPECT_TRUE(std::equal(resource.begin(), resource.end(), file.begin() + kBitmapFileHeaderBytes, file.end()))
                << "the built picture differs from its file";
        }
    }
}

}  // namespace
