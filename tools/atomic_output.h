// Files the tool writes appear under their final name only when complete. A regular file (or a
// new path) is written to an unnamed temporary file in the destination's folder (O_TMPFILE),
// linked into place on success, so that not even a crash leaves anything behind; where the
// file system has no unnamed files, a hidden named one is renamed into place instead and
// removed on failure or on an interrupting signal. A symbolic link is followed: its target is
// replaced and the link kept; a replaced file keeps its permission bits and owner. Anything
// else (a device, a FIFO, standard output, a path under /dev or /proc) is never replaced: the
// output is buffered in an unnamed file, so that audio writers may seek, and copied to it on
// success. "-" stands for standard input or output.
#ifndef QX_TOOLS_ATOMIC_OUTPUT_H
#define QX_TOOLS_ATOMIC_OUTPUT_H

#include <string>

namespace cli {

class atomic_output {
  public:
    // Opens the destination (a FIFO waits for its reader here) and creates the temporary file.
    // Throws cli::error naming path when either is not possible.
    explicit atomic_output(const std::string &path);
    ~atomic_output(); // drops the temporary file unless committed
    atomic_output(const atomic_output &) = delete;
    atomic_output &operator=(const atomic_output &) = delete;

    int fd() const { return fd_; }
    // The caller has written everything through fd() (and flushed what it buffers): put it in
    // place, or copy it to the device, FIFO or standard output.
    void commit();

  private:
    void open_temporary();
    void link_into_place();

    std::string path_;   // as the user gave it, for messages
    std::string target_; // the file that gets replaced: path_ with its symbolic links followed
    std::string named_tmp_;
    int fd_ = -1;        // where the output is written
    int stream_fd_ = -1; // the device, FIFO or standard output the output is copied to
    bool unnamed_ = false;
    bool existed_ = false;
    unsigned mode_ = 0;
    unsigned uid_ = 0, gid_ = 0;
    bool done_ = false;
};

// Write a whole text to path as atomic_output does, or to standard output for "-".
void write_text(const std::string &path, const std::string &text);

// Read a whole text file, or standard input for "-", of at most limit bytes: reading stops
// there and the input is refused, named, as too large to be `what` ("a profile").
std::string read_text(const std::string &path, size_t limit, const std::string &what);

// Open an input file for reading and return its descriptor, which the caller owns. For "-",
// standard input; a pipe is first copied to an unnamed temporary file so that readers may
// seek in it.
int open_input(const std::string &path);

} // namespace cli

#endif // QX_TOOLS_ATOMIC_OUTPUT_H
