// nph-zorerivi: started by the web server once per request; forwards it to the backend and
// copies the reply back. The exit status is 0 whatever happened: the client has its reply.
#include "config/settings.hpp"
#include "gateway/request_handler.hpp"
#include "gateway/version_text.hpp"

int main() {
    platform::startProcess();
    const std::string modulePath = platform::modulePath();
    ForwardSettings settings;
    loadSettings(modulePath, settings);
    {
        CgiRequestHandler handler(&settings);
        handler.handleRequest(readVersionText(modulePath));
    }
    platform::stopProcess();
    return 0;
}
