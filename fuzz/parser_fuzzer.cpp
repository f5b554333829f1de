// libFuzzer target: the request parser on any bytes, with the rules of parsercheck.h.
#include "parsercheck.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray failure = zimble::fuzz::checkParser(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "parser rule broken: %s\n", failure.constData());
        std::abort();
    }
    return 0;
}
