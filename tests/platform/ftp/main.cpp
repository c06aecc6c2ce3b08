#include <QCoreApplication>

#include <cstdlib>
#include <cstring>

int runFtpReplyTests(int argc, char** argv);
int runFtpScriptedTests(int argc, char** argv);
int runFtpServerTests(int argc, char** argv);

// Runs the three test classes in turn; LODRIN_TEST_CLASS=reply|scripted|server picks one.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const char* only = std::getenv("LODRIN_TEST_CLASS");
    auto wanted = [only](const char* name) { return !only || std::strcmp(only, name) == 0; };
    int failed = 0;
    if (wanted("reply"))
        failed += runFtpReplyTests(argc, argv) != 0;
    if (wanted("scripted"))
        failed += runFtpScriptedTests(argc, argv) != 0;
    if (wanted("server"))
        failed += runFtpServerTests(argc, argv) != 0;
    return failed;
}
