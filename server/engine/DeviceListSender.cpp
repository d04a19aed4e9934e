#include "DeviceListSender.h"

#include "OrbClientConnectionManager.h"
#include "OrbClientSocketUser.h"
#include "TraceLog.h"

#include <algorithm>

namespace engine {

DeviceListSender::DeviceListSender(COrbClientConnectionManager& manager) : m_Manager(manager) {}

DeviceListSender::~DeviceListSender() {
    Stop();
}

void DeviceListSender::Queue(COrbClientSocketUser* client, std::vector<Record> records,
                             const Record& endRecord) {
    auto job = std::make_shared<Job>();
    job->client = client;
    job->records = std::move(records);
    job->endRecord = endRecord;
    job->address = client->m_strPeerAddress;
    job->port = client->m_nPeerPort;
    platform::LockGuard guard(m_Mutex);
    if (m_bStop)
        return;
    job->due = Clock::now();
    job->order = ++m_nOrder;
    const bool busy = std::any_of(m_Jobs.begin(), m_Jobs.end(),
                                  [client](const auto& other) { return other->client == client; });
    (busy ? m_Waiting : m_Jobs).push_back(std::move(job));
    if (!m_Thread.joinable())
        m_Thread = std::thread([this] { Run(); });
    m_Wake.notify_all();
}

void DeviceListSender::Cancel(const COrbClientSocketUser* client) {
    platform::LockGuard guard(m_Mutex);
    if (m_Current && m_Current->client == client)
        m_Current->cancelled = true;
    const auto ofClient = [client](const std::shared_ptr<Job>& job) {
        return job->client == client;
    };
    std::erase_if(m_Jobs, ofClient);
    std::erase_if(m_Waiting, ofClient);
    m_Wake.notify_all();
}

void DeviceListSender::CancelAll() {
    platform::LockGuard guard(m_Mutex);
    if (m_Current)
        m_Current->cancelled = true;
    m_Jobs.clear();
    m_Waiting.clear();
    m_Wake.notify_all();
}

void DeviceListSender::Stop() {
    {
        platform::LockGuard guard(m_Mutex);
        m_bStop = true;
        m_Jobs.clear();
        m_Waiting.clear();
        if (m_Current)
            m_Current->cancelled = true;
        m_Wake.notify_all();
    }
    if (m_Thread.joinable() && m_Thread.get_id() != std::this_thread::get_id())
        m_Thread.join();
}

bool DeviceListSender::Idle() const {
    platform::LockGuard guard(m_Mutex);
    return m_Jobs.empty() && m_Waiting.empty() && !m_Current;
}

std::shared_ptr<DeviceListSender::Job> DeviceListSender::Earliest() const {
    std::shared_ptr<Job> first;
    for (const auto& job : m_Jobs)
        if (!first || job->due < first->due ||
            (job->due == first->due && job->order < first->order))
            first = job;
    return first;
}

void DeviceListSender::Finish(const std::shared_ptr<Job>& job) {
    const auto at = std::find(m_Jobs.begin(), m_Jobs.end(), job);
    if (at == m_Jobs.end())
        return; // cancelled meanwhile
    m_Jobs.erase(at);
    const auto next = std::find_if(m_Waiting.begin(), m_Waiting.end(),
                                   [&](const auto& other) { return other->client == job->client; });
    if (next == m_Waiting.end())
        return;
    (*next)->due = Clock::now();
    (*next)->order = ++m_nOrder;
    m_Jobs.push_back(*next);
    m_Waiting.erase(next);
}

void DeviceListSender::Run() {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            platform::UniqueLock lock(m_Mutex);
            for (;;) {
                if (m_bStop)
                    return;
                job = Earliest();
                if (!job)
                    m_Wake.wait(lock.Native());
                else if (job->due > Clock::now())
                    m_Wake.wait_until(lock.Native(), job->due); // a new list may be due sooner
                else
                    break;
            }
            m_Current = job;
        }
        int pause = SendNext(*job);
        if (pause > 0 && m_Manager.m_Pause) {
            m_Manager.m_Pause(pause);
            pause = 0;
        }
        platform::LockGuard guard(m_Mutex);
        m_Current.reset();
        if (pause < 0) {
            Finish(job);
        } else {
            job->due = Clock::now() + std::chrono::milliseconds(pause);
            job->order = ++m_nOrder;
        }
    }
}

int DeviceListSender::SendNext(Job& job) {
    const char* address = job.address.c_str();
    int error = 0;
    int sent = 0;
    {
        platform::CriticalSectionLock guard(m_Manager.m_csClientList);
        {
            platform::LockGuard jobGuard(m_Mutex);
            if (job.cancelled)
                return -1;
        }
        // Gone with its client: the rest of its list is dropped.
        const auto& clients = m_Manager.GetClients();
        if (std::find(clients.begin(), clients.end(), job.client) == clients.end())
            return -1;
        const Record& record =
            job.next < job.records.size() ? job.records[job.next] : job.endRecord;
        sent = job.client->SendRecord(record.data(), static_cast<int>(record.size()), error);
    }

    if (job.next < job.records.size()) {
        ++job.next;
        if (sent > 0) {
            ++job.count;
            if (job.count % COrbClientConnectionManager::kDeviceListPauseSkipEvery != 0)
                return COrbClientConnectionManager::kDeviceListPauseMs;
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
        return 0;
    }
    if (sent > 0)
        ++job.count;
    else
        TraceLog("[ERROR] Error detected while sending the final list to the connected "
                 "client[IP Address : %s, Port No : %d]",
                 address, job.port);
    TraceLog("Complete to send the device list[Total : %d]  to the connected client[IP Address : "
             "%s, Port No : %d]",
             job.count, address, job.port);
    return -1;
}

} // namespace engine
