#include "DeviceListSender.h"

#include "OrbClientConnectionManager.h"
#include "OrbClientSocketUser.h"
#include "TraceLog.h"

#include <algorithm>
#include <chrono>

DeviceListSender::DeviceListSender(COrbClientConnectionManager& manager) : m_Manager(manager) {}

DeviceListSender::~DeviceListSender() {
    Stop();
}

void DeviceListSender::Queue(COrbClientSocketUser* client, std::vector<Record> records,
                             const Record& endRecord) {
    auto job = std::make_shared<Job>(
        Job{client, std::move(records), endRecord, client->m_strPeerAddress, client->m_nPeerPort});
    std::lock_guard<std::mutex> guard(m_Mutex);
    if (m_bStop)
        return;
    m_Jobs.push_back(std::move(job));
    if (!m_Thread.joinable())
        m_Thread = std::thread([this] { Run(); });
    m_Wake.notify_all();
}

void DeviceListSender::Cancel(const COrbClientSocketUser* client) {
    std::lock_guard<std::mutex> guard(m_Mutex);
    if (m_Current && m_Current->client == client)
        m_Current->cancelled = true;
    std::erase_if(m_Jobs,
                  [client](const std::shared_ptr<Job>& job) { return job->client == client; });
}

void DeviceListSender::CancelAll() {
    std::lock_guard<std::mutex> guard(m_Mutex);
    if (m_Current)
        m_Current->cancelled = true;
    m_Jobs.clear();
}

void DeviceListSender::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        m_bStop = true;
        m_Jobs.clear();
        if (m_Current)
            m_Current->cancelled = true;
        m_Wake.notify_all();
    }
    if (m_Thread.joinable() && m_Thread.get_id() != std::this_thread::get_id())
        m_Thread.join();
}

bool DeviceListSender::Idle() const {
    std::lock_guard<std::mutex> guard(m_Mutex);
    return m_Jobs.empty() && !m_Current;
}

void DeviceListSender::Run() {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(m_Mutex);
            m_Wake.wait(lock, [this] { return m_bStop || !m_Jobs.empty(); });
            if (m_bStop)
                return;
            job = m_Jobs.front();
            m_Jobs.pop_front();
            m_Current = job;
        }
        Send(*job);
        std::lock_guard<std::mutex> guard(m_Mutex);
        m_Current.reset();
    }
}

void DeviceListSender::Pause(int milliseconds) {
    if (m_Manager.m_Pause) {
        m_Manager.m_Pause(milliseconds);
        return;
    }
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Wake.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_bStop; });
}

void DeviceListSender::Send(Job& job) {
    const char* address = job.address.c_str();
    // false once the client is gone: the rest of its list is dropped.
    auto sendOne = [&](const Record& record, int& error) {
        platform::CriticalSectionLock guard(m_Manager.m_csClientList);
        {
            std::lock_guard<std::mutex> jobGuard(m_Mutex);
            if (job.cancelled)
                return -2;
        }
        const auto& clients = m_Manager.m_ClientList;
        if (std::find(clients.begin(), clients.end(), job.client) == clients.end())
            return -2;
        return job.client->SendRecord(record.data(), static_cast<int>(record.size()), error);
    };

    int count = 0;
    for (const Record& record : job.records) {
        int error = 0;
        const int sent = sendOne(record, error);
        if (sent == -2)
            return;
        if (sent > 0) {
            ++count;
            if (count % COrbClientConnectionManager::kDeviceListPauseSkipEvery != 0)
                Pause(COrbClientConnectionManager::kDeviceListPauseMs);
        } else if (error == 0) {
            TraceLog("[ERROR] Error detected while sending the device list to the connected "
                     "client[IP Address : %s, Port No : %d, Error Code : %d - the socket is "
                     "gracefully closed]",
                     address, job.port, 0);
        } else {
            TraceLog("[ERROR] Error detected while sending the device list to the connected "
                     "client[IP Address : %s, Port No : %d, Error Code : %d - %s]",
                     address, job.port, error, SystemErrorText(error).c_str());
        }
    }
    int error = 0;
    const int sent = sendOne(job.endRecord, error);
    if (sent == -2)
        return;
    if (sent > 0)
        ++count;
    else
        TraceLog("[ERROR] Error detected while sending the final list to the connected "
                 "client[IP Address : %s, Port No : %d]",
                 address, job.port);
    TraceLog("Complete to send the device list[Total : %d]  to the connected client[IP Address : "
             "%s, Port No : %d]",
             count, address, job.port);
}
