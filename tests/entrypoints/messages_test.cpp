// Last errors through the entry points, in two languages.
#include "ep_fixture.h"

#include <algorithm>

namespace {

using namespace ep_test;

using Messages = EntryPointTest;

// errmsg's texts in both languages: kelm-host's errmsg tests.
TEST_F(Messages, GuardedFailureIsTheLastErrorInBothLanguages) {
    ProviderLibrary &lib = ProviderLibrary::testpgn();
    ASSERT_EQ(0, start(lib, "de"));
    lib.control()->claimThrows = true; // the int 42
    kelm_objid object{}, **claimed = nullptr;
    int level = 0;
    EXPECT_EQ(KEL_CLAIM_NONE, lib.ep().claim(&object, &claimed, &level));

    kel_msg_info *last = nullptr;
    ASSERT_EQ(0, lib.ep().get_last_error(&last));
    ASSERT_NE(nullptr, last);
    std::string serialised(last->text, last->length);
    EXPECT_EQ("<SERIALIZED_MESSAGE MSGID=MSG_ERROR_UNHANDLED_INT_EXCEPTION SEVERITY=3>\n"
              "\t<ARGVALUE INDEX=0 TYPE=2>42</ARGVALUE>\n"
              "\t<ARGVALUE INDEX=1 TYPE=3>providers\\device\\device_plugin</ARGVALUE>\n"
              "\t<ARGVALUE INDEX=2 TYPE=2>200</ARGVALUE>\n"
              "</SERIALIZED_MESSAGE>\n",
              serialised);

    int code = 0;
    wchar_t *german = nullptr, *english = nullptr;
    ASSERT_EQ(0, lib.ep().get_locale_message(&code, last, "de", &german));
    ASSERT_EQ(0, lib.ep().get_locale_message(&code, last, "root", &english));
    EXPECT_EQ("rendo: Unexpected error code 42 (source providers\\device\\device_plugin, line 200).", narrow(english));
    EXPECT_NE(narrow(english), narrow(german));
    EXPECT_NE(std::string::npos, narrow(german).find("42"));

    // The same message reached the callback, native text first.
    const std::vector<Forwarded> all = CallbackRecorder::all();
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const Forwarded &f) {
        return f.severity == KEL_SEV_ERROR && f.nativeText == narrow(german) && f.defaultText == narrow(english);
    }));

    EXPECT_EQ(0, lib.ep().del_locale_message(&german));
    EXPECT_EQ(0, lib.ep().del_locale_message(&english));
    EXPECT_EQ(0, lib.ep().del_last_error(&last));
}

} // namespace
