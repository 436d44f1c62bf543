// Running a host program as a user would: in a fresh directory of its own,
// with its standard streams captured.
#ifndef TOOL_SANDBOX_H
#define TOOL_SANDBOX_H

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

inline std::string slurp(const std::filesystem::path& p) {
    std::ostringstream s;
    s << std::ifstream(p).rdbuf();
    return s.str();
}

struct ToolResult {
    int status;  // exit code, or -1 when the program did not exit normally
    std::string out, err;
};

// Each test works in files/ of a fresh directory; the program's standard
// streams go beside it, so files/ holds only what the program leaves there.
class ToolSandbox : public ::testing::Test {
protected:
    void SetUp() override {
        char t[] = "/tmp/guide_tool_XXXXXX";
        base = mkdtemp(t);
        std::filesystem::create_directory(base / "files");
    }
    void TearDown() override { std::filesystem::remove_all(base); }

    std::string at(const std::string& name) const { return (base / "files" / name).string(); }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(at(name)) << text;
    }
    std::string read(const std::string& name) const { return slurp(at(name)); }

    // Runs program with args; stdin_name is a file in files/ or empty; env
    // holds NAME=VALUE entries set for the program on top of this process's.
    ToolResult run_program(const std::string& program, std::vector<std::string> args,
                           const std::string& stdin_name = "",
                           const std::vector<std::string>& env = {}) const {
        const std::string in = stdin_name.empty() ? "/dev/null" : at(stdin_name);
        const std::string out = base / "stdout", err = base / "stderr";
        posix_spawn_file_actions_t io;
        posix_spawn_file_actions_init(&io);
        posix_spawn_file_actions_addopen(&io, 0, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&io, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&io, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid;
        int status = -1;
        std::vector<std::string> vars(env);
        for (char** e = environ; *e; ++e) {
            const std::string name = std::string(*e).substr(0, std::string(*e).find('=') + 1);
            bool replaced = false;
            for (const std::string& v : env) replaced = replaced || v.rfind(name, 0) == 0;
            if (!replaced) vars.push_back(*e);
        }
        std::vector<char*> envp;
        for (std::string& v : vars) envp.push_back(v.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid, argv[0], &io, nullptr, argv.data(), envp.data()) == 0)
            waitpid(pid, &status, 0);
        posix_spawn_file_actions_destroy(&io);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
    }

    std::filesystem::path base;
};

#endif
