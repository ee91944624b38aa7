#pragma once
// Paths put into shell command texts are escaped with backslashes.
#include <string>
#include <string_view>

namespace velmora {

// A backslash before each of the 25 characters that the shell would otherwise
// take as syntax: blank ! " $ & ' ( ) * , : ; < = > ? @ [ \ ] ^ ` { | }. Every
// other byte is copied as it is.
std::string ShellEscapePath(std::string_view path);

// Control characters cannot be escaped with a backslash (a newline would end the
// command and start another), so a path holding one must not reach a shell.
bool holdsControlCharacters(std::string_view path);

}  // namespace velmora
