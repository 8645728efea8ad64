// The files of a fuzz target's corpus (fuzz/corpus/TARGET: the seeds and every input that
// once went wrong), for the unit tests that replay them. The including test file is compiled
// with ZAN_TEST_SOURCE_DIR, the source folder.
#pragma once
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fuzz_corpus {

template <class Bytes> struct File {
    std::filesystem::path path;
    Bytes data;
};

// Every file of the corpus with its bytes, as a string or a byte vector.
template <class Bytes = std::string> std::vector<File<Bytes>> files(const std::string& target) {
    std::vector<File<Bytes>> out;
    const auto folder = std::filesystem::path(ZAN_TEST_SOURCE_DIR) / "fuzz" / "corpus" / target;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        out.push_back({entry.path(), Bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>())});
    }
    return out;
}

} // namespace fuzz_corpus
