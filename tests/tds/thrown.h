#pragma once
// What a call throws, so that a test states the failure it expects in one line.

#include "tds/error.h"

#include <optional>
#include <string>

namespace tdstest {

struct Thrown {
    std::optional<rz::tds::ErrorKind> kind; // none when the call returned
    std::string what;
};

template <class Action>
Thrown thrownBy(Action &&action)
{
    try {
        action();
    } catch (const rz::tds::TdsError &e) {
        return {e.kind(), e.what()};
    }
    return {};
}

} // namespace tdstest
