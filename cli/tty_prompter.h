#pragma once

#include <memory>
#include <string>

#include "remote/prompts.h"

// tavo-report's questions for remote connections, asked on the controlling
// terminal (not on standard input or output, which carry the report), with
// echo off for secrets. Without a terminal nothing is asked: connections
// then rely on keys, the agent and known hosts, and fail saying why.
namespace tavo::cli {

// The prompter on /dev/tty, or makeNoPrompter() where there is none.
std::shared_ptr<remote::Prompter> makeTerminalPrompter();

// The same over an open terminal `fd` (tests pass one end of a pseudo
// terminal). The prompter does not close it.
std::shared_ptr<remote::Prompter> makeTerminalPrompter(int fd);

}  // namespace tavo::cli
