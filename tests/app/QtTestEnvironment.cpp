// One QApplication for every test of the window, on the offscreen platform,
// and a user folder of its own, so that no developer's update.cfg or port
// links in ~/.config/update take part.

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <memory>

namespace {

class CQtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (setenv("QT_QPA_PLATFORM", "offscreen", 1) != 0)
            FAIL() << "setenv QT_QPA_PLATFORM failed";
        char folder[] = "/tmp/app-tests-config-XXXXXX";
        if (mkdtemp(folder) == nullptr || setenv("XDG_CONFIG_HOME", folder, 1) != 0)
            FAIL() << "no private XDG_CONFIG_HOME";
        m_configFolder = folder;
        m_application = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override
    {
        m_application.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_configFolder, ignored);
    }

private:
    int m_argc = 1;
    char m_name[16] = "app_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_application;
    std::string m_configFolder;
};

const ::testing::Environment* const g_qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new CQtEnvironment);

}  // namespace
