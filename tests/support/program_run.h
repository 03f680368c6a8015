// Runs a program of the system in a fresh folder with a CDIF_DRIVES list, as a user would.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace program_test {

inline std::string shell_quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// A file's bytes, as text or as a vector of bytes.
template <class Bytes = std::string>
Bytes read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh folder holding "work" (where the program runs) and "images", removed afterwards.
class Workspace {
public:
    Workspace() {
        root_ = std::filesystem::temp_directory_path() / ("cdif_" + std::to_string(std::random_device{}()));
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(work());
        std::filesystem::create_directories(images());
    }
    ~Workspace() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    std::filesystem::path work() const { return root_ / "work"; }
    std::filesystem::path images() const { return root_ / "images"; }
    std::filesystem::path root() const { return root_; }

private:
    std::filesystem::path root_;
};

struct ProgramRun {
    int exit_code = -1;
    std::string out, err;
};

// environment: further NAME=value assignments for the program, already quoted.
inline ProgramRun run_program(const Workspace& space, const std::string& program, const std::string& drives,
                              const std::string& environment = "") {
    const auto out = space.root() / "stdout", err = space.root() / "stderr";
    const std::string command = "cd " + shell_quoted(space.work().string()) + " && CDIF_DRIVES=" +
                                shell_quoted(drives) + " " + environment + " " + shell_quoted(program) + " >" +
                                shell_quoted(out.string()) + " 2>" + shell_quoted(err.string());
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
}

}  // namespace program_test
