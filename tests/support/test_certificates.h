#pragma once

#include <string>

/// PEM files of a certificate authority made for one test and of a server
/// certificate signed by it.
struct TestCertificates {
    std::string ca_file;          ///< the authority's certificate
    std::string certificate_file; ///< the server's certificate
    std::string key_file;         ///< the server's private key
};

/// Makes a fresh authority and a server certificate for the IP address
/// `server_ip` (as subject alternative name), valid for a day, and writes the
/// three files into `directory`. Throws std::runtime_error on failure.
TestCertificates make_test_certificates(const std::string& directory, const std::string& server_ip = "127.0.0.1");
