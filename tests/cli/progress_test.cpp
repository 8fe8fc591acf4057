// The progress line appears only on a terminal: the program runs with standard error on a
// pseudo-terminal, and everything it writes there is read back.
#include "support.h"
#include "tiff/tiff_builder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace {

struct TerminalRun {
    int status = -1;
    std::string terminal;  // what the program wrote to standard error
};

// Runs the program with standard error on the slave side of a new pseudo-terminal of the
// given width.
TerminalRun RunOnTerminal(const std::vector<std::string>& args, unsigned short columns = 80) {
    TerminalRun result;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return result;
    }
    const winsize size = {24, columns, 0, 0};
    ioctl(master, TIOCSWINSZ, &size);
    const std::string slave = ptsname(master);
    const pid_t pid = SpawnVoxwrap(args, [&] {
        const int tty = open(slave.c_str(), O_RDWR | O_NOCTTY);
        const int null = open("/dev/null", O_RDWR);
        if (tty < 0 || null < 0) _exit(127);
        dup2(null, 0);
        dup2(null, 1);
        dup2(tty, 2);
        close(master);
    });
    // Read until the slave side is closed by the program's end (EIO) or nothing comes for 60 s.
    char buf[4096];
    for (;;) {
        pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, 60000) <= 0) break;
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        result.terminal.append(buf, static_cast<std::size_t>(n));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

const std::string kMug = std::string(VOXWRAP_SOURCE_DIR) + "/examples/mug";

TEST(ProgressDisplay, AppearsOnATerminalAndIsErased) {
    const std::string out = TempDir() + "/mug.stl";
    const TerminalRun r = RunOnTerminal({kMug + "/slices", kMug + "/names.txt", "1000-4095", out});
    ASSERT_EQ(r.status, 0) << r.terminal;
    const std::string erase = "\r\033[K";
    EXPECT_EQ(r.terminal.rfind(erase + "voxwrap: slice 1 of 40", 0), 0u) << r.terminal;
    EXPECT_NE(r.terminal.find(erase + "voxwrap: slice 40 of 40, "), std::string::npos);
    EXPECT_NE(r.terminal.find(" slices/s, 0:00 left"), std::string::npos);
    EXPECT_EQ(r.terminal.substr(r.terminal.size() - erase.size()), erase) << "not erased";
    EXPECT_EQ(r.terminal.find('\n'), std::string::npos) << "the display is one line";
    EXPECT_EQ(ReadFile(out), ReadFile(kMug + "/expected.stl"));
}

TEST(ProgressDisplay, ANarrowTerminalGetsAShorterLine) {
    const TerminalRun r = RunOnTerminal(
        {kMug + "/slices", kMug + "/names.txt", "1000-4095", TempDir() + "/m.stl"}, 30);
    ASSERT_EQ(r.status, 0) << r.terminal;
    const std::string erase = "\r\033[K";
    std::size_t lines = 0;
    for (std::size_t at = r.terminal.find(erase); at != std::string::npos;) {
        const std::size_t next = r.terminal.find(erase, at + erase.size());
        const std::size_t end = next == std::string::npos ? r.terminal.size() : next;
        EXPECT_LT(end - at - erase.size(), 30u) << "a line that would wrap";
        lines += end > at + erase.size() ? 1 : 0;
        at = next;
    }
    EXPECT_GE(lines, 1u) << r.terminal;
}

TEST(ProgressDisplay, QuietAndFailuresLeaveOnlyTheMessages) {
    const TerminalRun quiet = RunOnTerminal(
        {"--quiet", kMug + "/slices", kMug + "/names.txt", "1000-4095", TempDir() + "/m.stl"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.terminal, "");
    // The display is erased before the message; the terminal turns "\n" into "\r\n".
    const TerminalRun none =
        RunOnTerminal({kMug + "/slices", kMug + "/names.txt", "5000-", TempDir() + "/m.stl"});
    EXPECT_EQ(none.status, 1);
    const std::string tail = "\r\033[Kno object.\r\n";
    ASSERT_GE(none.terminal.size(), tail.size()) << none.terminal;
    EXPECT_EQ(none.terminal.substr(none.terminal.size() - tail.size()), tail);
}

// A 4 x 3 uncompressed 16-bit slice, all object samples. A strip byte count two bytes beyond the
// 24 the image needs draws the warning "too many codes"; photometric 2 (RGB) fails when the
// slice is read.
std::string Slice(bool warns, std::uint32_t photometric = 1) {
    tifftest::TiffBuilder tiff;
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 12 + 1; ++i)
        tiff.Put16(data, 2000);
    const std::uint32_t at = tiff.Data(data);
    tiff.Short(256, 4).Short(257, 3).Short(258, 16).Short(259, 1).Short(262, photometric);
    tiff.Long(273, at).Long(278, 3).Long(279, warns ? 26 : 24);
    const std::vector<std::uint8_t> bytes = tiff.Bytes();
    return std::string(bytes.begin(), bytes.end());
}

TEST(ProgressDisplay, WarningsAndMessagesStandOnLinesOfTheirOwn) {
    const std::string erase = "\r\033[K";
    for (const bool fails : {false, true}) {
        const std::string dir = TempDir();
        const std::vector<std::string> slices = {Slice(false), Slice(true), Slice(true),
                                                 Slice(false, fails ? 2 : 1)};
        std::string messages;
        for (std::size_t k = 0; k < slices.size(); ++k) {
            const std::string path = dir + "/s" + std::to_string(k) + ".tif";
            WriteFile(path, slices[k]);
            if (k == 1 || k == 2) messages += path + " : too many codes (warning).\r\n";
        }
        if (fails) messages += dir + "/s3.tif : bad photometric interpretation.\r\n";
        for (const char* threads : {"1", "2"}) {
            SCOPED_TRACE(std::string(fails ? "failing, " : "") + threads + " threads");
            const TerminalRun r =
                RunOnTerminal({"--threads", threads, dir, "-", "1000-4095", TempDir() + "/h.stl"});
            EXPECT_EQ(r.status, fails ? 1 : 0);
            // Between erasures stands either the progress line alone or whole message lines;
            // after a warning the line it erased is drawn again.
            ASSERT_EQ(r.terminal.rfind(erase, 0), 0u) << r.terminal;
            std::string seen, shown;
            bool redraw = false;
            for (std::size_t at = 0; at < r.terminal.size();) {
                const std::size_t next = r.terminal.find(erase, at + erase.size());
                const std::string piece = r.terminal.substr(
                    at + erase.size(),
                    next == std::string::npos ? std::string::npos : next - at - erase.size());
                at = next == std::string::npos ? r.terminal.size() : next;
                if (piece.rfind("voxwrap: slice ", 0) == 0) {
                    EXPECT_EQ(piece.find('\n'), std::string::npos) << r.terminal;
                    if (redraw) {
                        EXPECT_EQ(piece, shown) << "the line drawn again";
                    }
                    redraw = false;
                    shown = piece;
                } else if (!piece.empty()) {
                    EXPECT_EQ(piece.substr(piece.size() - 2), "\r\n") << r.terminal;
                    EXPECT_FALSE(redraw) << "the line was not drawn again: " << r.terminal;
                    seen += piece;
                    redraw = !shown.empty() && piece.find("(warning)") != std::string::npos;
                }
            }
            EXPECT_EQ(seen, messages) << r.terminal;
        }
    }
}

TEST(ProgressDisplay, NothingChangesWhenStandardErrorIsNoTerminal) {
    const std::string dir = TempDir();
    const RunResult ok = RunVoxwrap({kMug + "/slices", kMug + "/names.txt", "1000-4095", "-"});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.err, "");
    const RunResult none =
        RunVoxwrap({kMug + "/slices", kMug + "/names.txt", "5000-", dir + "/m.stl"});
    EXPECT_EQ(none.err, "no object.\n");
}

}  // namespace

// Today's range list on signed samples means their stored bits, as scripts expect; a person at the
// terminal is told so once, and nobody else ever.
TEST(ProgressDisplay, SignedStacksNoticeTheirStoredBitsOnATerminalOnly) {
    const std::string stack =
        std::string(VOXWRAP_SOURCE_DIR) + "/tests/data/samples/int16_none.tif";
    const std::string notice =
        "notice: the slices hold signed samples; the range list applies to "
        "their stored bits (write A:B, such as -1000:400, to select values).";
    auto count = [&](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = text.find(notice); at != std::string::npos;
             at = text.find(notice, at + 1))
            ++n;
        return n;
    };
    const std::string out = TempDir() + "/s.stl";
    for (const char* list : {"1-", "1:"}) {
        const TerminalRun r = RunOnTerminal({stack, "-", list, out});
        ASSERT_EQ(r.status, 0) << r.terminal;
        EXPECT_EQ(count(r.terminal), std::string(list) == "1-" ? 1u : 0u) << list;
    }
    const RunResult piped = RunVoxwrap({stack, "-", "1-", out});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(count(piped.err), 0u);
}
