#pragma once

/// libcurl's global state, for the life of a main program: made first thing
/// in main, before any thread starts, and gone last. When libcurl cannot be
/// initialised no address can ever be fetched: the program then ends at once,
/// with exit_status::failure, after saying why in French on standard error.
class CurlGlobal {
public:
    CurlGlobal();
    ~CurlGlobal();
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
};
