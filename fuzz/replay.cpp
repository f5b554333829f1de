// Replays the fuzzers' seed corpus (and anything found since) through the request parser with the
// rules of parsercheck.h. Run by CTest in every build; needs no clang.
#include "parsercheck.h"

#include <QDirIterator>
#include <QFile>

#include <cstdio>

int main(int argc, char* argv[])
{
    int files = 0, failed = 0;
    for (int i = 1; i < argc; ++i) {
        QDirIterator it(QString::fromLocal8Bit(argv[i]), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (!f.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(f.fileName()));
                ++failed;
                continue;
            }
            ++files;
            const QByteArray failure = zimble::fuzz::checkParser(f.readAll());
            if (!failure.isEmpty()) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(f.fileName()), failure.constData());
                ++failed;
            }
        }
    }
    std::printf("%d corpus files replayed, %d failed\n", files, failed);
    return failed == 0 && files > 0 ? 0 : 1;
}
