#include "fetch/socket_error.h"

#include "tests/qt_print.h"

#include <asio/error.hpp>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

struct TErrnoCase {
    int Errno;
    int Expected;
};

class ErrnoMappingTest : public testing::TestWithParam<TErrnoCase> {};

TEST_P(ErrnoMappingTest, GivesTheWindowsSocketsTwin) {
    EXPECT_EQ(WSocketErrorFromErrno(GetParam().Errno), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Twins, ErrnoMappingTest,
    testing::Values(TErrnoCase{ECONNREFUSED, 10061}, TErrnoCase{ECONNRESET, 10054},
                    TErrnoCase{ECONNABORTED, 10053}, TErrnoCase{ETIMEDOUT, 10060},
                    TErrnoCase{ENETUNREACH, 10051}, TErrnoCase{EHOSTUNREACH, 10065},
                    TErrnoCase{EADDRINUSE, 10048}, TErrnoCase{EWOULDBLOCK, 10035},
                    TErrnoCase{EINPROGRESS, 10036}, TErrnoCase{EINTR, 10004},
                    TErrnoCase{EPIPE, 10054},
                    // No twin: the number stays as it is.
                    TErrnoCase{EIO, EIO}));

struct TCodeCase {
    std::error_code Code;
    int Expected;
};

class CodeMappingTest : public testing::TestWithParam<TCodeCase> {};

TEST_P(CodeMappingTest, GivesTheWindowsSocketsNumber) {
    EXPECT_EQ(WSocketErrorFromCode(GetParam().Code), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, CodeMappingTest,
                         testing::Values(TCodeCase{asio::error::host_not_found, 11001},
                                         TCodeCase{asio::error::host_not_found_try_again, 11002},
                                         TCodeCase{asio::error::no_recovery, 11003},
                                         TCodeCase{asio::error::no_data, 11004},
                                         TCodeCase{asio::error::service_not_found, 10108},
                                         TCodeCase{asio::error::connection_refused, 10061},
                                         TCodeCase{asio::error::connection_reset, 10054},
                                         TCodeCase{asio::error::timed_out, 10060},
                                         TCodeCase{asio::error::eof, 0},
                                         TCodeCase{std::error_code(), 0}));

struct TDescCase {
    int Error;
    const char* Text;
};

class SocketErrorDescTest : public testing::TestWithParam<TDescCase> {};

TEST_P(SocketErrorDescTest, GivesTheTableText) {
    EXPECT_EQ(SocketErrorDesc(GetParam().Error), QString::fromLatin1(GetParam().Text));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SocketErrorDescTest,
    testing::Values(
        TDescCase{0, "Winsock - No Error"}, TDescCase{10061, "Winsock - Connection refused"},
        TDescCase{10053, "Winsock - Connection aborted"},
        TDescCase{10054, "Winsock - Connection reset by peer"},
        TDescCase{10060, "Winsock - Connection timed out"},
        TDescCase{10047, "Winsock - Address family not supported by protocol family"},
        TDescCase{10059, "Winsock - Too many references: can't splice"},
        TDescCase{10092, "Winsock - WinSock DLL cannot support this application"},
        TDescCase{10108, "Winsock - Service not found"},
        TDescCase{11001, "Winsock - Host not found"}, TDescCase{11004, "Winsock - No Data"},
        // Gaps and neighbours of the table are not socket errors.
        TDescCase{10000, "Not a Winsocket error"}, TDescCase{10067 + 100, "Not a Winsocket error"},
        TDescCase{10072, "Not a Winsocket error"}, TDescCase{11000, "Not a Winsocket error"},
        TDescCase{-1, "Not a Winsocket error"}, TDescCase{3, "Not a Winsocket error"}));

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
