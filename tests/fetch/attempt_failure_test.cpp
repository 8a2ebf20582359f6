#include "fetch/attempt_failure.h"

#include <gtest/gtest.h>

#include "tests/qt_print.h"

namespace {

struct TPauseCase {
    const char* Name;
    QString Message;
    QString ReasonPhrase;
    bool Pause;
};

class FailureNeedsPauseTest : public testing::TestWithParam<TPauseCase> {};

TEST_P(FailureNeedsPauseTest, OnlyConnectionTroubleWaits) {
    EXPECT_EQ(FailureNeedsPause(GetParam().Message, GetParam().ReasonPhrase), GetParam().Pause);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailureNeedsPauseTest,
    testing::Values(TPauseCase{"refused", "Winsock - Connection refused (Error #10061)", "", true},
                    TPauseCase{"socket_any_case", "Error on SoCkEt read", "", true},
                    TPauseCase{"socket_inside_word", "websockets gone", "", true},
                    TPauseCase{"refused_number_only", "#10061", "", true},
                    TPauseCase{"other_error_number",
                               "Winsock - Connection reset by peer (Error #10054)", "", false},
                    TPauseCase{"number_prefix_only", "Error #1006", "", false},
                    TPauseCase{"broken", "Broken", "", false},
                    TPauseCase{"http_status", "Not Found", "Not Found", false},
                    TPauseCase{"time_out_phrase", "Request aborted on timeout",
                               "Request aborted on timeout", true},
                    TPauseCase{"time_out_phrase_only", "", "Request aborted on timeout", true},
                    TPauseCase{"time_out_other_case", "", "request aborted on timeout", false},
                    TPauseCase{"time_out_with_blank", "", "Request aborted on timeout ", false},
                    TPauseCase{"kelvin_sign_is_not_k", QString::fromUtf8("SOC\u212AET"), "", false},
                    TPauseCase{"cyrillic", "Ошибка сокета", "", false}),
    [](const testing::TestParamInfo<TPauseCase>& info) { return info.param.Name; });

struct TStatusCase {
    const char* Name;
    QString Message;
    int StatusCode;
    QString Status;
};

class FailureStatusTextTest : public testing::TestWithParam<TStatusCase> {};

TEST_P(FailureStatusTextTest, MessageOrStatusCode) {
    EXPECT_EQ(FailureStatusText(GetParam().Message, GetParam().StatusCode), GetParam().Status);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailureStatusTextTest,
    testing::Values(TStatusCase{"message", "Broken", 200, "ERROR_Broken"},
                    TStatusCase{"empty_message", "", 404, "ERROR_404"},
                    TStatusCase{"no_status_yet", "", 0, "ERROR_0"},
                    TStatusCase{"message_wins", "Not Found", 404, "ERROR_Not Found"}),
    [](const testing::TestParamInfo<TStatusCase>& info) { return info.param.Name; });

} // namespace
