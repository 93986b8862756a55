#pragma once
// While a library probes ALSA for a sound card, ALSA tells the terminal,
// line after line, of everything it does not find (on a machine without a
// sound card, eight lines of it); our own line says what came of the search.
// A QuietAlsa keeps ALSA's reports off the terminal for its lifetime and
// then sends them where they went before. Only files that include ALSA
// themselves include this.
#include <alsa/error.h>

namespace platform {

class QuietAlsa {
public:
    QuietAlsa() : before(snd_lib_error) { snd_lib_error_set_handler(Ignore); }
    ~QuietAlsa() { snd_lib_error_set_handler(before); }
    QuietAlsa(const QuietAlsa&) = delete;
    QuietAlsa& operator=(const QuietAlsa&) = delete;

private:
    static void Ignore(const char*, int, const char*, int, const char*, ...) {}

    snd_lib_error_handler_t before;
};

}  // namespace platform
