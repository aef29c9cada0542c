// start-fetchlet: the launcher at the top of an end user's copy made by
// fetchlet-publish. File managers start a program with the home folder as
// the current directory; Fetchlet works in the current directory, so this
// launcher makes its own folder (wherever the copy was unpacked, moved or
// renamed) the working folder and starts the program there.
//
// Before it does, it checks that every file listed in "fetchlet.files" (the
// program and the parts it loads: libraries, Qt's plugins, qt.conf, fonts)
// is there. When the program cannot start (the dynamic loader or Qt gives
// up), it asks the loader which library the program or a plugin lacks on
// this system. What goes wrong is told
// to the end user in a small window of its own when an X display can be
// opened (the message may be that Qt is missing, so the window is drawn
// with Xlib and FreeType, which every X desktop has), and always on
// standard error.
//
// The copy carries only the xcb platform plugin (it runs under XWayland on
// Wayland desktops), so QT_QPA_PLATFORM is set to xcb; variables that would
// send the loader or Qt to other libraries and plugins are removed, the
// copy finding its parts through run paths relative to itself and qt.conf.
// Exit code: that of the program, 1 when the copy cannot start.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char* const ManifestName = "fetchlet.files";
const char* const ProgramName = "fetchlet";
const char* const FontName = "fonts/ipagp.ttf";

std::string OwnFolder()
{
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return {};
    std::string path(buffer.data(), static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

// ---- the message window ----------------------------------------------

// UTF-8 to code points; a broken sequence becomes U+FFFD.
std::vector<char32_t> CodePoints(const std::string& text)
{
    std::vector<char32_t> out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= text.size()) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char d = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            ok = ok && (d >> 6) == 2;
            cp = (cp << 6) | (d & 0x3F);
        }
        out.push_back(ok ? cp : 0xFFFD);
        i += ok ? static_cast<size_t>(extra) + 1 : 1;
    }
    return out;
}

// The bundled Japanese font; when it is the file that is missing, whatever
// fontconfig offers for Japanese.
std::string FontFile()
{
    if (::access(FontName, R_OK) == 0)
        return FontName;
    std::string file;
    if (!FcInit())
        return file;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:lang=ja"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
        FcChar8* name = nullptr;
        if (FcPatternGetString(match, FC_FILE, 0, &name) == FcResultMatch && name)
            file = reinterpret_cast<const char*>(name);
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return file;
}

class MessageWindow {
public:
    MessageWindow(Display* display, const std::vector<std::string>& lines) : display_(display)
    {
        if (FT_Init_FreeType(&library_) == 0) {
            const std::string font = FontFile();
            if (font.empty() || FT_New_Face(library_, font.c_str(), 0, &face_) != 0)
                face_ = nullptr;
            else
                FT_Set_Pixel_Sizes(face_, 0, PixelSize);
        }
        for (const std::string& line : lines)
            lines_.push_back(CodePoints(line));
    }
    ~MessageWindow()
    {
        if (face_)
            FT_Done_Face(face_);
        if (library_)
            FT_Done_FreeType(library_);
    }
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Shows the window until OK, Enter, Escape or the window's close box.
    void Run()
    {
        int width = 0;
        for (const auto& line : lines_)
            width = std::max(width, Advance(line));
        width = std::min(std::max(width + 2 * Margin, 320), 900);
        const int height = Margin + static_cast<int>(lines_.size()) * LineHeight + Margin + ButtonHeight + Margin;
        const int screen = DefaultScreen(display_);
        const Window window = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0,
                                                  static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                                  BlackPixel(display_, screen), 0xF0F0F0);
        XStoreName(display_, window, "Fetchlet");
        const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
        const Atom netName = XInternAtom(display_, "_NET_WM_NAME", False);
        XChangeProperty(display_, window, netName, utf8, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>("Fetchlet"), 8);
        Atom deleteWindow = XInternAtom(display_, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display_, window, &deleteWindow, 1);
        XSizeHints* hints = XAllocSizeHints();
        hints->flags = PMinSize | PMaxSize;
        hints->min_width = hints->max_width = width;
        hints->min_height = hints->max_height = height;
        XSetWMNormalHints(display_, window, hints);
        XFree(hints);
        XSelectInput(display_, window, ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask);
        XMapRaised(display_, window);
        button_ = {width - Margin - ButtonWidth, height - Margin - ButtonHeight};
        const GC gc = XCreateGC(display_, window, 0, nullptr);
        for (bool done = false; !done;) {
            XEvent event;
            XNextEvent(display_, &event);
            switch (event.type) {
            case Expose:
                if (event.xexpose.count == 0)
                    Paint(window, gc, width, height);
                break;
            case KeyPress: {
                const KeySym key = XLookupKeysym(&event.xkey, 0);
                done = key == XK_Return || key == XK_KP_Enter || key == XK_Escape || key == XK_space;
                break;
            }
            case ButtonRelease:
                done = event.xbutton.x >= button_.x && event.xbutton.x < button_.x + ButtonWidth &&
                       event.xbutton.y >= button_.y && event.xbutton.y < button_.y + ButtonHeight;
                break;
            case ClientMessage:
                done = static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow;
                break;
            default:
                break;
            }
        }
        XFreeGC(display_, gc);
        XDestroyWindow(display_, window);
        XFlush(display_);
    }

private:
    static constexpr int PixelSize = 14;
    static constexpr int LineHeight = 22;
    static constexpr int Margin = 16;
    static constexpr int ButtonWidth = 88;
    static constexpr int ButtonHeight = 26;
    struct Point {
        int x, y;
    };

    int Advance(const std::vector<char32_t>& line)
    {
        if (!face_)
            return static_cast<int>(line.size()) * 8;
        int x = 0;
        for (char32_t c : line)
            if (FT_Load_Char(face_, c, FT_LOAD_DEFAULT) == 0)
                x += static_cast<int>(face_->glyph->advance.x >> 6);
        return x;
    }

    // One line with its baseline at y, the glyphs' coverage blended into
    // the background (black text on the button face).
    void DrawLine(Window window, GC gc, const std::vector<char32_t>& line, int x, int y)
    {
        if (!face_) {
            std::string ascii;
            for (char32_t c : line)
                ascii += c < 0x80 ? static_cast<char>(c) : '?';
            XDrawString(display_, window, gc, x, y, ascii.data(), static_cast<int>(ascii.size()));
            return;
        }
        const int screen = DefaultScreen(display_);
        Visual* visual = DefaultVisual(display_, screen);
        const int depth = DefaultDepth(display_, screen);
        for (char32_t c : line) {
            if (FT_Load_Char(face_, c, FT_LOAD_RENDER) != 0)
                continue;
            const FT_GlyphSlot g = face_->glyph;
            const int w = static_cast<int>(g->bitmap.width), h = static_cast<int>(g->bitmap.rows);
            if (w > 0 && h > 0 && depth >= 24) {
                XImage* image = XCreateImage(display_, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                                             static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
                if (image) {
                    image->data = static_cast<char*>(std::malloc(static_cast<size_t>(image->bytes_per_line) *
                                                                 static_cast<size_t>(h)));
                    for (int row = 0; row < h; ++row)
                        for (int col = 0; col < w; ++col) {
                            const unsigned a = g->bitmap.buffer[row * g->bitmap.pitch + col];
                            const unsigned v = 0xF0 * (255 - a) / 255;
                            XPutPixel(image, col, row, (v << 16) | (v << 8) | v);
                        }
                    XPutImage(display_, window, gc, image, 0, 0, x + g->bitmap_left, y - g->bitmap_top,
                              static_cast<unsigned>(w), static_cast<unsigned>(h));
                    XDestroyImage(image);
                }
            }
            x += static_cast<int>(g->advance.x >> 6);
        }
    }

    void Paint(Window window, GC gc, int width, int height)
    {
        XSetForeground(display_, gc, 0xF0F0F0);
        XFillRectangle(display_, window, gc, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XSetForeground(display_, gc, 0x000000);
        int y = Margin + PixelSize;
        for (const auto& line : lines_) {
            DrawLine(window, gc, line, Margin, y);
            y += LineHeight;
        }
        XSetForeground(display_, gc, 0xFFFFFF);
        XFillRectangle(display_, window, gc, button_.x, button_.y, ButtonWidth, ButtonHeight);
        XSetForeground(display_, gc, 0x646464);
        XDrawRectangle(display_, window, gc, button_.x, button_.y, ButtonWidth - 1, ButtonHeight - 1);
        XSetForeground(display_, gc, 0x000000);
        const std::vector<char32_t> ok = CodePoints("OK");
        DrawLine(window, gc, ok, button_.x + (ButtonWidth - Advance(ok)) / 2, button_.y + 18);
    }

    Display* display_;
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
    std::vector<std::vector<char32_t>> lines_;
    Point button_{0, 0};
};

// To standard error always, and in a window when a display opens.
[[noreturn]] void Fail(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        std::fprintf(stderr, "start-fetchlet: %s\n", line.c_str());
    if (Display* display = XOpenDisplay(nullptr)) {
        MessageWindow(display, lines).Run();
        XCloseDisplay(display);
    }
    std::exit(1);
}

// ---- the checks -------------------------------------------------------

std::vector<std::string> ListedFiles()
{
    std::ifstream in(ManifestName);
    if (!in)
        Fail({"この Fetchlet には次のファイルがありません: " + std::string(ManifestName),
              "配布元から受け取った書庫をもう一度展開してください。"});
    std::vector<std::string> files;
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            files.push_back(line);
    return files;
}

// The dynamic loader this launcher runs with.
std::string Loader()
{
    struct Found {
        ElfW(Addr) base;
        std::string path;
    } found{static_cast<ElfW(Addr)>(getauxval(AT_BASE)), {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* f = static_cast<Found*>(data);
            if (info->dlpi_addr == f->base && info->dlpi_name && info->dlpi_name[0] == '/')
                f->path = info->dlpi_name;
            return 0;
        },
        &found);
    return found.path;
}

// The loader listing what file needs (as ldd does), started in the
// background; its output comes through the pipe.
struct Listing {
    pid_t pid = -1;
    int output = -1;
};

Listing StartListing(const std::string& loader, const std::string& file)
{
    int pipeEnds[2];
    if (loader.empty() || ::pipe(pipeEnds) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeEnds[1], 1);
        ::dup2(pipeEnds[1], 2);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        ::execl(loader.c_str(), loader.c_str(), "--list", file.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    if (child < 0) {
        ::close(pipeEnds[0]);
        return {};
    }
    return {child, pipeEnds[0]};
}

// The libraries the loader did not find: listed as "not found", or the
// one it stopped at ("error while loading shared libraries: NAME: ...").
std::vector<std::string> MissingLibraries(const Listing& listing)
{
    std::vector<std::string> missing;
    if (listing.pid < 0)
        return missing;
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(listing.output, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(listing.output);
    while (::waitpid(listing.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    size_t start = 0;
    for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = out.substr(start, end - start);
        const size_t arrow = line.find(" => not found");
        if (arrow != std::string::npos) {
            const size_t first = line.find_first_not_of(" \t");
            missing.push_back(line.substr(first, arrow - first));
        }
        static const std::string stopped = "error while loading shared libraries: ";
        if (const size_t at = line.find(stopped); at != std::string::npos) {
            const size_t from = at + stopped.size();
            missing.push_back(line.substr(from, line.find(':', from) - from));
        }
    }
    return missing;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}


// The program and the plugins Qt loads by path: when the loader lacks a
// library they need on this system, that is told (and the launcher ends).
void FailOnMissingLibraries(const std::string& folder, const std::vector<std::string>& files)
{
    const std::string loader = Loader();
    std::vector<std::string> checked = {ProgramName};
    for (const std::string& file : files)
        if (file.rfind("plugins/", 0) == 0 && EndsWith(file, ".so"))
            checked.push_back(file);
    std::vector<Listing> listings;
    for (const std::string& file : checked)
        listings.push_back(StartListing(loader, folder + "/" + file));
    std::string names, user;
    for (size_t i = 0; i < checked.size(); ++i)
        for (const std::string& m : MissingLibraries(listings[i]))
            if (names.find(m) == std::string::npos) {
                names += (names.empty() ? "" : ", ") + m;
                if (user.find(checked[i]) == std::string::npos)
                    user += (user.empty() ? "" : ", ") + checked[i];
            }
    if (!names.empty())
        Fail({"Fetchlet に必要なライブラリがこのシステムにありません: " + names, "(" + user + " が使います)"});
}

volatile sig_atomic_t g_child = 0;

void Forward(int signal)
{
    if (g_child > 0)
        ::kill(g_child, signal);
}

} // namespace

int main(int, char** argv)
{
    const std::string folder = OwnFolder();
    if (folder.empty() || ::chdir(folder.c_str()) != 0)
        Fail({"Fetchlet のフォルダに移動できません: " + folder, std::strerror(errno)});

    const std::vector<std::string> files = ListedFiles();
    for (const std::string& file : files)
        if (::access(file.c_str(), R_OK) != 0)
            Fail({"この Fetchlet には次のファイルがありません: " + file,
                  "配布元から受け取った書庫をもう一度展開してください。"});
    if (::access(ProgramName, X_OK) != 0)
        Fail({"この Fetchlet のプログラムを実行できません: " + folder + "/" + ProgramName, std::strerror(errno)});

    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        FailOnMissingLibraries(folder, files);
        std::fprintf(stderr, "start-fetchlet: %s\n",
                     std::getenv("WAYLAND_DISPLAY")
                         ? "X の画面がありません (DISPLAY が未設定です)。Wayland では XWayland が必要です。"
                         : "画面がありません (DISPLAY が未設定です)。Fetchlet はデスクトップで起動してください。");
        return 1;
    }
    // Kept open while the program runs: an X server resets when its last
    // client leaves, and the program's connection must not meet a reset.
    Display* connection = XOpenDisplay(nullptr);
    if (!connection) {
        std::fprintf(stderr, "start-fetchlet: 画面 %s に接続できません。\n", display);
        return 1;
    }
    for (const char* name : {"LD_LIBRARY_PATH", "QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH", "QT_QPA_PLATFORMTHEME"})
        ::unsetenv(name);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);

    // The program runs as a child, so that a start the loader or Qt gives up
    // on (exit code 127, or an abort when a plugin cannot be loaded) can be
    // looked into afterwards; nothing is checked before, which keeps the
    // start as quick as the program's own. Signals to the launcher go on to
    // the program.
    const std::string program = folder + "/" + ProgramName;
    argv[0] = const_cast<char*>(program.c_str());
    struct sigaction forward{};
    forward.sa_handler = Forward;
    sigemptyset(&forward.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT})
        ::sigaction(signal, &forward, nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        Fail({"Fetchlet を起動できません: " + program, std::strerror(errno)});
    if (child == 0) {
        // Ends with the launcher, should that be killed.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1)
            ::_exit(128 + SIGTERM);
        ::execv(program.c_str(), argv);
        std::fprintf(stderr, "start-fetchlet: %s: %s\n", program.c_str(), std::strerror(errno));
        ::_exit(127);
    }
    g_child = child;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    XCloseDisplay(connection);
    g_child = 0;
    forward.sa_handler = SIG_DFL;
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT})
        ::sigaction(signal, &forward, nullptr);
    if (WIFEXITED(status) && WEXITSTATUS(status) != 127)
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status) && WTERMSIG(status) != SIGABRT)
        return 128 + WTERMSIG(status);
    FailOnMissingLibraries(folder, files);
    if (WIFEXITED(status))
        Fail({"Fetchlet を起動できません: " + program, "(終了コード 127)"});
    return 128 + WTERMSIG(status);
}
