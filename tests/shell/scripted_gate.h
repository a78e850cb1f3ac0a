#pragma once
// The password window as a script: answers as told, and writes "password" into a prompt log at each
// showing, so that its place among the questions shows.

#include "shell/password.h"

#include <QStringList>

namespace veltrane::test {

struct ScriptedGate final : PasswordGate {
    explicit ScriptedGate(QStringList& log) : log(log) {}
    bool askAccess() override {
        log << QStringLiteral("password");
        return answer;
    }
    QStringList& log;
    bool answer = true;
};

}  // namespace veltrane::test
