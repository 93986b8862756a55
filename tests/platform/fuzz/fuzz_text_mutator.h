#pragma once
// Deterministic mutations for the text inputs of the regression programs:
// words of the format inserted, lines cut, repeated and swapped, bytes
// changed. libFuzzer runs have their own mutations.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/platform/fuzz/fuzz_regression.h"

namespace fuzztext {

inline void Mutate(std::string* s, fuzzrun::Random* r, const std::vector<const char*>& words)
{
    switch (r->Below(6)) {
    case 0: {
        const char* word = words[r->Below(words.size())];
        s->insert(r->Below(s->size() + 1), word);
        break;
    }
    case 1:
        if (!s->empty()) {
            const size_t at = r->Below(s->size());
            s->erase(at, 1 + r->Below(12));
        }
        break;
    case 2:
        if (!s->empty()) {
            // Repeat a line (or what is left of one).
            const size_t at = r->Below(s->size());
            const size_t end = s->find('\n', at);
            const std::string line = s->substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
            s->insert(at, line);
        }
        break;
    case 3:
        if (!s->empty()) {
            (*s)[r->Below(s->size())] = "0123456789 .-+e\n#x"[r->Below(18)];
        }
        break;
    case 4: s->resize(r->Below(s->size() + 1)); break;
    default:
        if (!s->empty()) {
            (*s)[r->Below(s->size())] = char(r->Next());
        }
        break;
    }
}

}  // namespace fuzztext
