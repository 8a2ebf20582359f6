#include "fetch/socket_error.h"

#include "tests/qt_print.h"

#include <asio/error.hpp>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(WSocketErrorFromErrno, GivesTheWindowsSocketsTwin) {
    const struct {
        int Errno;
        int Expected;
    } cases[] = {
        {ECONNREFUSED, 10061},
        {ECONNRESET, 10054},
        {ECONNABORTED, 10053},
        {ETIMEDOUT, 10060},
        {ENETUNREACH, 10051},
        {EHOSTUNREACH, 10065},
        {EADDRINUSE, 10048},
        {EWOULDBLOCK, 10035},
        {EINPROGRESS, 10036},
        {EINTR, 10004},
        {EPIPE, 10054},
        // No twin: the number stays as it is.
        {EIO, EIO},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WSocketErrorFromErrno(c.Errno), c.Expected) << "errno " << c.Errno;
}

TEST(WSocketErrorFromCode, GivesTheWindowsSocketsNumber) {
    const struct {
        std::error_code Code;
        int Expected;
    } cases[] = {
        {asio::error::host_not_found, 11001},
        {asio::error::host_not_found_try_again, 11002},
        {asio::error::no_recovery, 11003},
        {asio::error::no_data, 11004},
        {asio::error::service_not_found, 10108},
        {asio::error::connection_refused, 10061},
        {asio::error::connection_reset, 10054},
        {asio::error::timed_out, 10060},
        {asio::error::eof, 0},
        {std::error_code(), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WSocketErrorFromCode(c.Code), c.Expected) << c.Code.message();
}

TEST(SocketErrorDescTest, GivesTheTableText) {
    const struct {
        int Error;
        const char* Text;
    } cases[] = {
        {0, "Winsock - No Error"},
        {10061, "Winsock - Connection refused"},
        {10053, "Winsock - Connection aborted"},
        {10054, "Winsock - Connection reset by peer"},
        {10060, "Winsock - Connection timed out"},
        {10047, "Winsock - Address family not supported by protocol family"},
        {10059, "Winsock - Too many references: can't splice"},
        {10092, "Winsock - WinSock DLL cannot support this application"},
        {10108, "Winsock - Service not found"},
        {11001, "Winsock - Host not found"},
        {11004, "Winsock - No Data"},
        // Gaps and neighbours of the table are not socket errors.
        {10000, "Not a Winsocket error"},
        {10067 + 100, "Not a Winsocket error"},
        {10072, "Not a Winsocket error"},
        {11000, "Not a Winsocket error"},
        {-1, "Not a Winsocket error"},
        {3, "Not a Winsocket error"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SocketErrorDesc(c.Error), QString::fromLatin1(c.Text)) << c.Error;
}

// Every number that a mapped errno produces has a text of its own.
TEST(SocketErrorDescTest, EveryMappedErrnoHasATableText) {
    for (int value = 1; value < 200; ++value) {
        const int mapped = WSocketErrorFromErrno(value);
        if (mapped != value) {
            EXPECT_NE(SocketErrorDesc(mapped), QStringLiteral("Not a Winsocket error")) << value;
        }
    }
}

} // namespace
