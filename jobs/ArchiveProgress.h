// Where a job's run over many archives stands, for a front end that shows it.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <string>

// Archive index (from 0) of count: started, done, or failed with the
// failure's message and the exception itself, for a caller that handles
// failures by their kind.
struct ParArchiveProgress {
    enum class State { Started, Done, Failed };
    State state = State::Started;
    size_t index = 0;
    size_t count = 0;
    std::string archive;
    std::string error;
    std::exception_ptr failure;
    // The archive's directory was damaged and its entries were read from
    // their local headers.
    bool rebuilt = false;
};

using TArchiveProgressEvent = std::function<void(const ParArchiveProgress&)>;
