// Running the program's helpers as the tests do: plainly, or in a child process of the test's
// own making for what QProcess cannot do, a setup step in the child just before exec (a mount
// namespace, a user, a resource limit).
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace zelv::test {

struct ChildRun {
    int exitCode = -1; // -1 when it did not end by itself
    QString err;
    long maxRssKb = 0; // the child's peak memory
};

// Runs program with args, standard input closed, and waits at most timeoutMs; err is its
// standard error without the blanks at its ends.
ChildRun runProgram(const QString &program, const QStringList &args, int timeoutMs = 120000);

// Runs program with args; setup (system calls only) runs in the child before exec and ends it
// with exit code 77 when the scene cannot be set up here. Standard input is /dev/null.
ChildRun runInChild(const QString &program, const QStringList &args, const std::function<void()> &setup);

} // namespace zelv::test
