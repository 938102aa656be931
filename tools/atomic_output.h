// Files the tool writes appear under their final name only when complete: output goes to a
// temporary file in the destination's folder, which is renamed into place on success and
// removed on failure or on an interrupting signal. "-" stands for standard input or output.
#ifndef QX_TOOLS_ATOMIC_OUTPUT_H
#define QX_TOOLS_ATOMIC_OUTPUT_H

#include <string>

namespace cli {

class atomic_output {
  public:
    // Creates the temporary file (for "-", an unnamed one whose content goes to standard
    // output on commit). Throws cli::error naming path when that is not possible.
    explicit atomic_output(const std::string &path);
    ~atomic_output(); // removes the temporary file unless committed
    atomic_output(const atomic_output &) = delete;
    atomic_output &operator=(const atomic_output &) = delete;

    int fd() const { return fd_; }
    // The caller has written and closed (or flushed) everything through fd(): put it in place.
    void commit();

  private:
    std::string path_, tmp_;
    int fd_ = -1;
    bool to_stdout_ = false;
    bool done_ = false;
};

// Write a whole text to path atomically, or to standard output for "-".
void write_text(const std::string &path, const std::string &text);

// Read a whole text file, or standard input for "-".
std::string read_text(const std::string &path);

// Open an input file for reading and return its descriptor, which the caller owns. For "-",
// standard input; a pipe is first copied to an unnamed temporary file so that readers may
// seek in it.
int open_input(const std::string &path);

} // namespace cli

#endif // QX_TOOLS_ATOMIC_OUTPUT_H
