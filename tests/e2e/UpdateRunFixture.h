#pragma once
// End-to-end runs of the update worker over a pseudo-terminal against the
// simulated device: the test writes an update file, starts the device, and
// runs the worker to its end as a front end would.

#include "Devsim.h"
#include "UpdateFileFixture.h"
#include "UpdateRun.h"
#include "UpdateThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

// Keeps the worker's message boxes instead of showing them.
class CCapturingObserver final : public devupdate::update::CRunObserver {
public:
    void ShowMessageBox(const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(m_boxMutex);
        m_boxes.push_back(text);
    }
    std::vector<std::string> Boxes() const
    {
        std::lock_guard<std::mutex> lock(m_boxMutex);
        return m_boxes;
    }

private:
    mutable std::mutex m_boxMutex;
    std::vector<std::string> m_boxes;
};

class UpdateRunFixture : public ::testing::Test {
protected:
    void StartDevice(devupdate::devsim::SDevsimConfig config = {})
    {
        m_device = std::make_unique<devupdate::devsim::CDevsim>(std::move(config));
        m_device->Start();
    }

    std::string WriteUpdateFile(const devupdate::mkupd::SUpdateFile& file, const std::string& name = "run.upd")
    {
        return m_folder.Write(name, devupdate::mkupd::WriteUpdateFile(file));
    }

    // Runs the worker on `path` until it ends; `whileRunning` is called every
    // few milliseconds on this thread, as the window's timer would be.
    void RunUpdate(const std::string& path, std::chrono::milliseconds limit = std::chrono::seconds(20),
                   const std::function<void()>& whileRunning = {})
    {
        const unsigned sessionsBefore = m_device->SessionsEnded();
        m_run.SetFileName(path);
        const std::string device = m_device->SlavePath();
        if (!m_run.PrepareRun({device, device})) {
            m_outcome = m_run.FinishRun();
            FAIL() << m_outcome.message;
        }
        ASSERT_TRUE(m_run.StartRun());
        const auto start = std::chrono::steady_clock::now();
        while (m_run.IsRunActive()) {
            if (std::chrono::steady_clock::now() - start > limit) {
                m_run.RequestCancel();
                ADD_FAILURE() << "the run did not end within the limit";
                limit = std::chrono::hours(1);
            }
            if (whileRunning)
                whileRunning();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        m_elapsed = std::chrono::steady_clock::now() - start;
        m_endState = m_run.State().m_runState;
        // A run that sent CMD_END: let the device take it in before the test reads its log.
        if (m_run.WorkerReachedBodyEnd()) {
            EXPECT_TRUE(m_device->WaitForSessions(sessionsBefore + 1, std::chrono::seconds(2)));
        }
        m_outcome = m_run.FinishRun();
    }

    // Every byte the tool sent, and those from its first CMD_START on.
    std::vector<uint8_t> ToolBytes() const
    {
        std::vector<uint8_t> bytes;
        for (const devupdate::devsim::STrafficByte& traffic : m_device->Traffic()) {
            if (traffic.fromTool)
                bytes.push_back(traffic.byte);
        }
        return bytes;
    }
    std::vector<uint8_t> ToolBytesFromStart() const
    {
        const std::vector<uint8_t> all = ToolBytes();
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i] == devupdate::update::CMD_START)
                return std::vector<uint8_t>(all.begin() + static_cast<std::ptrdiff_t>(i), all.end());
        }
        return {};
    }

    static devupdate::mkupd::SUpdateTarget Firmware(unsigned number, std::vector<uint8_t> blocks, const std::string& name = "Board")
    {
        devupdate::mkupd::SUpdateTarget target;
        target.number = number;
        target.name = name;
        target.type = devupdate::mkupd::TYPE_FIRMWARE;
        target.data = std::move(blocks);
        return target;
    }

    static devupdate::mkupd::SUpdateTarget Xsvf(unsigned number, std::vector<uint8_t> stream, const std::string& name = "Logic")
    {
        devupdate::mkupd::SUpdateTarget target;
        target.number = number;
        target.name = name;
        target.type = devupdate::mkupd::TYPE_XSVF;
        target.data = std::move(stream);
        return target;
    }

    std::string Row(int index) const { return m_run.State().TargetRowText(index); }

    CTempFolder m_folder;
    std::unique_ptr<devupdate::devsim::CDevsim> m_device;
    CCapturingObserver m_heard;
    devupdate::update::CUpdateRun m_run{m_heard};
    devupdate::update::SRunOutcome m_outcome;
    int m_endState = devupdate::update::RunIdle;
    std::chrono::steady_clock::duration m_elapsed{};
};

// The same, run from the test's own folder: the XSVF trace of a run lands
// there, so tests running side by side never share one.
class UpdateRunInFolderFixture : public UpdateRunFixture {
protected:
    void SetUp() override
    {
        ASSERT_NE(getcwd(m_previousDir, sizeof m_previousDir), nullptr);
        ASSERT_EQ(chdir(m_folder.Path().c_str()), 0);
    }
    void TearDown() override { EXPECT_EQ(chdir(m_previousDir), 0); }

private:
    char m_previousDir[4096] = {};
};
