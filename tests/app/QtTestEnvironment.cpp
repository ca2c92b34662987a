// One QApplication for every test of the window, on the offscreen platform.

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

class CQtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (setenv("QT_QPA_PLATFORM", "offscreen", 1) != 0)
            FAIL() << "setenv QT_QPA_PLATFORM failed";
        m_application = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_application.reset(); }

private:
    int m_argc = 1;
    char m_name[16] = "app_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_application;
};

const ::testing::Environment* const g_qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new CQtEnvironment);

}  // namespace
