// save and load of a 1,000,000-value block of integers, floats and strings: as Zan text
// (save to none, load of the bytes) against CPython's repr and ast.literal_eval, and as
// ZANBIN (save/as and load/as 'zanbin) against pickle.dumps and pickle.loads. Each side is
// one process (bench/load-save/load-save.zan and .py) that builds the same data and times
// each step itself, best of three, so neither start-up nor building the data is counted.
// Run from the build folder; the zan executable is looked for next to this one.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "bench/ratio.h"

namespace {

// The "name seconds" lines a program prints; empty when it fails.
std::map<std::string, double> timings(const std::string& command) {
    std::map<std::string, double> out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char line[256], name[128];
    double seconds = 0;
    while (std::fgets(line, sizeof line, p)) {
        if (std::sscanf(line, "%127s %lf", name, &seconds) == 2) out[name] = seconds;
        std::fputs(line, stdout);
    }
    if (pclose(p) != 0) out.clear();
    return out;
}

} // namespace

int main(int, char** argv) {
    const std::filesystem::path self = std::filesystem::absolute(argv[0]);
    std::string zan = (self.parent_path().parent_path() / "zan").string();
    if (!std::filesystem::exists(zan)) zan = (self.parent_path() / "zan").string();
    const std::string base =
        (std::filesystem::path(ZAN_SOURCE_DIR) / "bench" / "load-save" / "load-save").string();
    const auto ours = timings(zan + " " + base + ".zan");
    const auto peer = timings(std::string(bench::python3()) + " " + base + ".py");
    if (ours.size() != 4 || peer.size() != 4) {
        std::fprintf(stderr, "a program failed\n");
        return 1;
    }
    const struct {
        const char *ours, *peer;
    } pairs[] = {{"save-text", "repr"},
                 {"load-text", "literal_eval"},
                 {"save-zanbin", "pickle-dumps"},
                 {"load-zanbin", "pickle-loads"}};
    for (const auto& p : pairs)
        std::printf("ratio %-12s zan/%-13s %.2f (goal: at most 1.0)\n", p.ours, p.peer,
                    ours.at(p.ours) / peer.at(p.peer));
    return 0;
}
