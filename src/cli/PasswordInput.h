#pragma once

#include <ostream>
#include <string>

// A password from the user, never from the command line: asked for with
// prompt on err and read without echo when standard input is a terminal,
// otherwise the first line of standard input. Throws Refusal when there is none.
std::string ReadPassword(const std::string& prompt, std::ostream& err);
