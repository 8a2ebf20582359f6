#include "fetch/attempt_failure.h"

#include "fetch/http_cli.h"
#include "fetch/socket_error.h"

#include <gtest/gtest.h>

#include "tests/qt_print.h"

namespace {

constexpr auto Request = TAttemptFailure::RequestFailure;
constexpr auto Other = TAttemptFailure::OtherFailure;

TEST(AttemptFailureTest, OnlyConnectionTroubleWaits) {
    const struct {
        const char* Name;
        TAttemptFailure Failure;
        bool Pause;
    } cases[] = {
        {"refused",
         {Request, WsaConnectionRefused, "Winsock - Connection refused (Error #10061)"},
         true},
        {"refused_while_connecting",
         {Request, WsaConnectionRefused, "can't connect: Winsock - Connection refused"},
         true},
        {"socket_any_case", {Other, 0, "Error on SoCkEt read"}, true},
        {"socket_inside_word", {Request, 3, "websockets gone"}, true},
        {"other_error_number",
         {Request, 10054, "Winsock - Connection reset by peer (Error #10054)"},
         false},
        {"refused_number_as_a_status", {Request, 503, "Error #10061"}, false},
        {"broken", {Other, 0, "Broken"}, false},
        {"http_status", {Request, 404, "Not Found"}, false},
        {"time_out", {Request, HttpTimeoutError, HttpTimeoutReason}, true},
        {"time_out_phrase_as_a_status", {Request, 500, HttpTimeoutReason}, false},
        {"aborted", {Request, HttpAbortedError, "Connection aborted on request"}, false},
        {"kelvin_sign_is_not_k", {Other, 0, QString::fromUtf8("SOC\u212AET")}, false},
        {"cyrillic", {Other, 0, "Ошибка сокета"}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.Failure.NeedsPause(), c.Pause) << c.Name;
}

TEST(AttemptFailureTest, StatusTextIsTheReasonOrTheStatusCode) {
    const struct {
        TAttemptFailure Failure;
        QString Status;
    } cases[] = {
        {{Other, 0, "Broken", 200}, "ERROR_Broken"},
        {{Request, 404, "", 404}, "ERROR_404"},
        {{Other, 0, "", 0}, "ERROR_0"},
        {{Request, 404, "Not Found", 404}, "ERROR_Not Found"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.Failure.StatusText(), c.Status);
}

// The kind and number come from the failure itself, not from its text.
TEST(AttemptFailureTest, CurrentTellsTheClientsFailureFromOthers) {
    const auto current = [](auto&& raise) {
        try {
            raise();
        } catch (...) {
            return TAttemptFailure::Current(404);
        }
        return TAttemptFailure{};
    };
    const TAttemptFailure request =
        current([] { throw EHttpException("Winsock - Connection refused", 10061); });
    EXPECT_EQ(request.Kind, Request);
    EXPECT_EQ(request.Number, 10061);
    EXPECT_EQ(request.Reason, "Winsock - Connection refused");
    EXPECT_EQ(request.StatusCode, 404);
    const TAttemptFailure other = current([] { throw Exception("Broken"); });
    EXPECT_EQ(other.Kind, Other);
    EXPECT_EQ(other.Number, 0);
    EXPECT_EQ(other.Reason, "Broken");
}

} // namespace
