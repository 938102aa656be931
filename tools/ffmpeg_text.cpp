// Text rules for the commands the transcode command builds: quoting for a POSIX shell, the two
// levels of escaping inside an ffmpeg filter graph, and splitting the library's argument
// fragment into arguments.
#include "transcode.h"

namespace cli {

namespace {

bool shell_safe(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string("_@%+=:,./-").find(c) != std::string::npos;
}

// A backslash before each special character, and before whitespace at either end, which the
// tokenizer would otherwise trim.
std::string backslash_escape(const std::string &text, const std::string &specials) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool edge_space =
            (i == 0 || i + 1 == text.size()) && (c == ' ' || c == '\t' || c == '\n' || c == '\r');
        if (specials.find(c) != std::string::npos || edge_space)
            out += '\\';
        out += c;
    }
    return out;
}

std::string single_quoted(const std::string &word) {
    std::string out = "'";
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

} // namespace

std::string shell_quote(const std::string &word) {
    bool safe = !word.empty();
    for (char c : word)
        safe = safe && shell_safe(c);
    return safe ? word : single_quoted(word);
}

std::string shell_command(const std::vector<std::string> &env,
                          const std::vector<std::string> &argv) {
    std::string line;
    for (const auto &assignment : env) {
        const size_t eq = assignment.find('=');
        line += assignment.substr(0, eq + 1) + shell_quote(assignment.substr(eq + 1)) + " ";
    }
    for (size_t i = 0; i < argv.size(); ++i) {
        // A bare first word with '=' in it would be read as one more assignment.
        const bool command_word = i == 0 && argv[i].find('=') != std::string::npos;
        line += (i ? " " : "") + (command_word ? single_quoted(argv[i]) : shell_quote(argv[i]));
    }
    return line;
}

std::string filter_value(const std::string &value) {
    // The option list is read first with ':' between options; the graph reads the result.
    return backslash_escape(backslash_escape(value, "\\':"), "\\'[],;");
}

std::vector<std::string> split_fragment(const std::string &fragment) {
    std::vector<std::string> args;
    size_t at = 0;
    while (at < fragment.size()) {
        const size_t end = fragment.find(' ', at);
        const size_t stop = end == std::string::npos ? fragment.size() : end;
        if (stop > at)
            args.push_back(fragment.substr(at, stop - at));
        at = stop + 1;
    }
    return args;
}

} // namespace cli
