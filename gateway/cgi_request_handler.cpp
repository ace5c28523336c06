// The request handler bound to the CGI process: the body on standard input, the reply on
// standard output, the server variables in the environment.
#include "gateway/request_handler.hpp"

int CgiRequestHandler::readInput(std::span<char> buffer) {
    return platform::readStandardInput(buffer);
}

int CgiRequestHandler::writeOutput(std::string_view data) {
    return platform::writeStandardOutput(data);
}

std::optional<std::string> CgiRequestHandler::getVariable(const char* name) {
    return platform::environmentVariable(name);
}
