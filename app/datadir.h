#pragma once
// The development directory rule: a game run from the development directory reads its data there.

#include <QString>

namespace zimble {

struct DataDirChoice {
    QString prefix;    // put before data file names; empty when the rule does not apply
    QString directory; // the directory to change into; empty when the rule does not apply
};

// exeDir is the directory of the program, with or without a trailing separator, in any separators.
// It matches when, in native separators and upper case, it equals "G:\TESSA" exactly.
DataDirChoice developmentDataDir(const QString& exeDir);

} // namespace zimble
