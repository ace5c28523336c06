// A request handler bound to memory: server variables from a map, the body from a string
// (delivered in reads of at most readLimit bytes, as a pipe would), the reply into a string.
#pragma once

#include "gateway/request_handler.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

class FakeRequestHandler : public RequestHandler {
  public:
    FakeRequestHandler(ForwardSettings* settings, std::map<std::string, std::string> variables,
                       std::string input = {}, std::size_t readLimit = 65536)
        : RequestHandler(settings), variables_(std::move(variables)), input_(std::move(input)),
          readLimit_(readLimit) {}

    int readInput(std::span<char> buffer) override {
        std::size_t count = std::min({buffer.size(), readLimit_, input_.size() - consumed_});
        std::memcpy(buffer.data(), input_.data() + consumed_, count);
        consumed_ += count;
        return static_cast<int>(count);
    }

    int writeOutput(std::string_view data) override {
        output.append(data);
        ++writeCount;
        return static_cast<int>(data.size());
    }

    std::optional<std::string> getVariable(const char* name) override {
        auto found = variables_.find(name);
        if (found == variables_.end()) {
            return std::nullopt;
        }
        return found->second;
    }

    std::size_t inputConsumed() const { return consumed_; }

    std::string output;
    int writeCount = 0;

  private:
    std::map<std::string, std::string> variables_;
    std::string input_;
    std::size_t readLimit_;
    std::size_t consumed_ = 0;
};
