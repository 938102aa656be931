// Where the program's output goes: devices, FIFOs and /dev/stdout are written in place and never
// replaced by a regular file; a symbolic link keeps being a link to the replaced file; a
// replaced file keeps its permission bits; and a run killed half-way leaves no temporary file.
#include "harness.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace harness;
using OutputTarget = CliTest;

// The three commands that write a file, with TARGET standing for the output path.
const std::vector<std::vector<std::string>> k_writers = {
    {"eq", "in.wav", "TARGET", "--preset", "PS_rock"},
    {"response", "--preset", "PS_pop", "--svg", "TARGET"},
    {"profile", "new", "--set", "ProfileName=x", "-o", "TARGET"},
};

std::vector<std::string> with_target(std::vector<std::string> args, const std::string &target) {
    for (auto &a : args)
        if (a == "TARGET")
            a = target;
    return args;
}

// What the command writes to a plain new file: the reference for every other target.
std::string reference_output(const std::vector<std::string> &args, const fs::path &dir) {
    const result r = run(with_target(args, "reference"));
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string text = read_file(dir / "reference");
    fs::remove(dir / "reference");
    return text;
}

TEST_F(OutputTarget, DevicesAndFifosAreWrittenInPlaceNeverReplaced) {
    for (const auto &args : k_writers) {
        SCOPED_TRACE(args.front());
        const fs::path dir = fresh_dir();
        write_audio(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2,
                    to_pcm16(signal(3000, 2, 0.5)));
        const std::string want = reference_output(args, dir);

        // A character device: the same one as /dev/null, under the test's folder.
        ASSERT_EQ(mknod((dir / "mynull").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        result r = run(with_target(args, "mynull"));
        EXPECT_EQ(r.status, 0) << r.err;
        struct stat st;
        ASSERT_EQ(lstat((dir / "mynull").c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device node was replaced";

        // A FIFO: its reader gets the whole output.
        ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
        std::string got;
        std::thread reader([&] { got = read_file(dir / "fifo"); });
        r = run(with_target(args, "fifo"));
        // Should the program fail before opening the FIFO, this lets the reader go.
        const int unblock = open((dir / "fifo").c_str(), O_WRONLY | O_NONBLOCK);
        if (unblock >= 0)
            close(unblock);
        reader.join();
        EXPECT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(lstat((dir / "fifo").c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
        EXPECT_EQ(got, want);

        // /dev/stdout: the output lands where standard output goes.
        r = run(with_target(args, "/dev/stdout"));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, want);

        EXPECT_EQ(listing(dir), (std::vector<std::string>{"fifo", "in.wav", "mynull"}));
    }
}

TEST_F(OutputTarget, LinksAreFollowedAndReplacedFilesKeepTheirMode) {
    for (const auto &args : k_writers) {
        SCOPED_TRACE(args.front());
        const fs::path dir = fresh_dir();
        write_audio(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2,
                    to_pcm16(signal(3000, 2, 0.5)));
        const std::string want = reference_output(args, dir);
        fs::create_directory(dir / "real");

        // An existing file with unusual permission bits, reached through a relative link.
        write_file(dir / "real" / "target", "old");
        ASSERT_EQ(chmod((dir / "real" / "target").c_str(), 0640), 0);
        fs::create_symlink("real/target", dir / "link");
        result r = run(with_target(args, "link"));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(fs::is_symlink(dir / "link"));
        EXPECT_EQ(fs::read_symlink(dir / "link"), "real/target");
        EXPECT_EQ(read_file(dir / "real" / "target"), want);
        struct stat st;
        ASSERT_EQ(stat((dir / "real" / "target").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);

        // A link to a file that does not exist yet: the file is made, the link kept.
        fs::create_symlink("real/new", dir / "dangling");
        r = run(with_target(args, "dangling"));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
        EXPECT_EQ(read_file(dir / "real" / "new"), want);

        // A plain file replaced in place keeps its mode too.
        write_file(dir / "plain", "old");
        ASSERT_EQ(chmod((dir / "plain").c_str(), 0600), 0);
        r = run(with_target(args, "plain"));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(dir / "plain"), want);
        ASSERT_EQ(stat((dir / "plain").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);

        EXPECT_EQ(listing(dir),
                  (std::vector<std::string>{"dangling", "in.wav", "link", "plain", "real"}));
        EXPECT_EQ(listing(dir / "real"), (std::vector<std::string>{"new", "target"}));
    }
}

// The input is a FIFO whose writer never finishes, so the program waits half-way through its
// output until it is killed outright: no handler runs, yet the folder holds no temporary file.
TEST_F(OutputTarget, KilledHalfWayLeavesNothingBehind) {
    const fs::path dir = fresh_dir();
    write_audio(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2,
                to_pcm16(signal(20000, 2, 0.5)));
    ASSERT_EQ(mkfifo((dir / "slow.wav").c_str(), 0644), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        const std::string emulator = QX_EMULATOR; // a cross build runs the tool through it
        if (emulator.empty())
            execl(QX_CLI, QX_CLI, "eq", "slow.wav", "out.wav", "--preset", "PS_rock", nullptr);
        else
            execl(emulator.c_str(), emulator.c_str(), QX_CLI, "eq", "slow.wav", "out.wav",
                  "--preset", "PS_rock", nullptr);
        _exit(127);
    }
    // The FIFO opens once the program opens it for reading; should it never start, the test
    // fails after ten seconds instead of waiting for ever.
    int w = -1;
    for (int tries = 0; w < 0 && tries < 1000; ++tries) {
        w = open((dir / "slow.wav").c_str(), O_WRONLY | O_NONBLOCK);
        if (w < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (w < 0)
        kill(pid, SIGKILL);
    ASSERT_GE(w, 0) << "the program never opened its input";
    fcntl(w, F_SETFL, fcntl(w, F_GETFL) & ~O_NONBLOCK);
    const std::string wav = read_file(dir / "in.wav");
    ASSERT_EQ(write(w, wav.data(), wav.size() / 2), static_cast<ssize_t>(wav.size() / 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // it reads and writes a part
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(w);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"in.wav", "slow.wav"}));
}

} // namespace
