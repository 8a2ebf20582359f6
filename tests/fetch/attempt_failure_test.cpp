#include "fetch/attempt_failure.h"

#include "fetch/http_cli.h"
#include "tests/fetch/http_feed_rig.h"

#include <gtest/gtest.h>

#include "tests/qt_print.h"

namespace {

const QString NoStatus = HttpNoStatusReason;
const QString TimeOut = HttpTimeoutReason;

TAttemptFailure Failure(const QString& reason, int status = 0, const QString& phrase = {},
                        bool headerCut = false) {
    return {reason, status, phrase, headerCut};
}

// Rows: the failure's message, the client's status code and reason phrase, and
// whether the header was cut by the close.
TEST(AttemptFailureTest, OnlyConnectionTroubleWaits) {
    const struct {
        const char* Name;
        TAttemptFailure Failure;
        bool Pause;
    } cases[] = {
        {"refused", Failure("Winsock - Connection refused (Error #10061)", 404), true},
        {"refused_text_without_its_number", Failure("Winsock - Connection refused", 404), false},
        {"socket_any_case", Failure("Error on SoCkEt read"), true},
        {"socket_inside_word", Failure("websockets gone", 404), true},
        {"other_error_number", Failure("Winsock - Connection reset by peer (Error #10054)", 404),
         false},
        {"refused_number_in_a_status_phrase",
         Failure("Busy (Error #10061)", 503, "Busy (Error #10061)"), true},
        {"broken", Failure("Broken", 200, "OK"), false},
        {"http_status", Failure("Not Found", 404, "Not Found"), false},
        {"time_out", Failure(TimeOut, 404, TimeOut), true},
        {"time_out_phrase_of_a_status", Failure(TimeOut, 500, TimeOut), true},
        {"time_out_phrase_then_broken", Failure("Broken", 200, TimeOut), true},
        {"time_out_phrase_not_exact", Failure("Broken", 200, TimeOut + "."), false},
        {"time_out_phrase_only_in_the_message", Failure(TimeOut, 500, "Internal"), false},
        {"header_cut", Failure(NoStatus, 0, NoStatus, true), true},
        {"closed_before_a_status_line", Failure(NoStatus, 0, NoStatus, false), false},
        {"aborted", Failure("Connection aborted on request", 404), false},
        {"kelvin_sign_is_not_k", Failure(QString::fromUtf8("SOC\u212AET")), false},
        {"cyrillic", Failure("Ошибка сокета"), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.Failure.NeedsPause(), c.Pause) << c.Name;
}

TEST(AttemptFailureTest, StatusTextIsTheReasonOrTheStatusCode) {
    const struct {
        TAttemptFailure Failure;
        QString Status;
    } cases[] = {
        {Failure("Broken", 200), "ERROR_Broken"},
        {Failure("", 404), "ERROR_404"},
        {Failure("", 0), "ERROR_0"},
        {Failure("Not Found", 404), "ERROR_Not Found"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.Failure.StatusText(), c.Status);
}

// The client's own ending of a response the server cut off, as Get raises it.
TEST(AttemptFailureTest, CurrentTellsAHeaderCutByTheClose) {
    const struct {
        const char* Name;
        QByteArray Received;
        int CloseError;
        bool HeaderCut;
    } cases[] = {
        {"inside_the_header", "HTTP/1.0 200 OK\r\nContent-Ty", 0, true},
        {"after_the_status_line_by_a_reset", "HTTP/1.0 200 OK\r\n", 10054, true},
        {"inside_the_status_line", "HTTP/1.0 200 O", 0, false},
        {"before_any_byte", "", 0, false},
    };
    for (const auto& c : cases) {
        TFeedCli cli;
        cli.BeginResponse();
        cli.Feed(c.Received);
        cli.CloseFromServer(c.CloseError);
        TAttemptFailure failure;
        try {
            throw EHttpException(cli.ReasonPhrase(), uint16_t(cli.RequestError()));
        } catch (...) {
            failure = TAttemptFailure::Current(cli);
        }
        EXPECT_EQ(failure.Reason, NoStatus) << c.Name;
        EXPECT_EQ(failure.HeaderCut, c.HeaderCut) << c.Name;
        EXPECT_EQ(failure.NeedsPause(), c.HeaderCut) << c.Name;
    }
}

} // namespace
