// Asio's TLS stream is compiled once, here, for the site's server.
#include <asio/ssl/impl/src.hpp>
