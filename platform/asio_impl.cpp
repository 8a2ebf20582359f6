// Asio is compiled once for the whole program (separate compilation).
#include <asio/impl/src.hpp>
