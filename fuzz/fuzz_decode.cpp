// aufspalt on arbitrary bytes into a fresh map, compared with the plain
// std::string model of the decoding rules; then a full checked walk.
#include "cgivar.h"
#include "model.h"

#include <cstddef>
#include <cstdint>
#include <string>

// hex() of the header, for every byte, against the model's digit rule.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    for (int c = 0; c < 256; ++c)
        model::check(hex(static_cast<char>(c)) == model::digit(static_cast<char>(c)), "hex", std::to_string(c));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    model::Decoded expected;
    model::decode(input, expected);

    // The input with the one spare byte the decoder may write, and nothing
    // more: reading past it is caught by AddressSanitizer.
    char *puffer = new char[size + 1];
    input.copy(puffer, size);
    puffer[size] = '\0';
    Varmap map;
    int result = aufspalt(&map, puffer, static_cast<int>(size));
    delete[] puffer; // the map must hold copies, not pointers into puffer

    model::check(result == expected.result, "result", std::to_string(result));
    model::Model got = model::as_model(model::checked_walk(map));
    model::check(got == expected.pairs, "decoded pairs differ from the model");
    return 0;
}
