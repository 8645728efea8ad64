// A python3 process that stays up for a whole benchmark run: it is started with a script and
// its arguments, reads one command a line on its standard input and answers each with a line
// holding the seconds the job took (measured inside Python, around the job only) and,
// optionally, a count of what the job produced. Benchmarks take those seconds as manual time,
// so that process start-up and the pipe are not counted.
#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/ratio.h"

namespace bench {

// A small deterministic generator, so that both sides read the same generated texts.
inline uint32_t next_random(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// A word of min to min + spread - 1 lower-case letters.
inline std::string word(uint32_t& state, uint32_t min, uint32_t spread) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz";
    std::string w;
    for (uint32_t n = min + next_random(state) % spread; n > 0; --n)
        w += letters[next_random(state) % 26];
    return w;
}

// Writes a text to /tmp/PREFIX + NAME for the peer to read; answers the path, empty on
// failure.
inline std::string write_temp(const char* prefix, const std::string& text, const char* name) {
    const std::string path = std::string("/tmp/") + prefix + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return path;
}

class PythonPeer {
public:
    bool start(const char* script, const std::vector<std::string>& args) {
        int in[2], out[2];
        if (pipe(in) || pipe(out)) return false;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            std::vector<char*> argv{const_cast<char*>(python3()), const_cast<char*>("-c"),
                                    const_cast<char*>(script)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execvp(python3(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        to_ = fdopen(in[1], "w");
        from_ = fdopen(out[0], "r");
        return pid_ > 0 && to_ && from_;
    }
    // Sends one command and answers the seconds it took; `count` (when given) receives the
    // number after them, 0 when the line has none.
    double run(const char* command, long* count = nullptr) {
        std::fprintf(to_, "%s\n", command);
        std::fflush(to_);
        char line[256];
        if (!std::fgets(line, sizeof line, from_)) std::abort();
        double seconds = 0;
        long n = 0;
        if (std::sscanf(line, "%lf %ld", &seconds, &n) < 1) std::abort();
        if (count) *count = n;
        return seconds;
    }
    void stop() {
        std::fclose(to_);
        std::fclose(from_);
        waitpid(pid_, nullptr, 0);
    }

    // A benchmark's loop over one command: each iteration takes the seconds the peer measured;
    // the count it answers becomes the "items" counter.
    void time_job(benchmark::State& state, const char* command, size_t bytes) {
        long n = 0;
        for (auto _ : state) state.SetIterationTime(run(command, &n));
        state.counters["items"] = static_cast<double>(n);
        state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    }

private:
    FILE* to_ = nullptr;
    FILE* from_ = nullptr;
    pid_t pid_ = 0;
};

} // namespace bench
