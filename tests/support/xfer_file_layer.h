// A file layer for transfer probe tests: real files underneath, with hooks
// that make writes, syncs, cache drops and reads take fake clock time, fail
// on purpose, or act in the middle of a read loop; it records the sizes the
// probe asked for and every call in order.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "support/fake_clock.h"

namespace tarvik::test {

class TXferFileSystem final : public IFileSystem {
  public:
    explicit TXferFileSystem(TFakeClock& clock) : Clock_(clock) {}

    // Called with the running number (from 0) of the call of that kind.
    // Set them before the measuring thread runs or while it is parked.
    std::function<std::uint32_t(int call)> WriteMs = [](int) { return 0u; };
    std::function<std::uint32_t(int call)> ReadMs = [](int) { return 0u; };
    std::function<std::uint32_t(int call)> SyncMs = [](int) { return 0u; };
    std::function<std::uint32_t(int call)> DropMs = [](int) { return 0u; };
    std::function<bool(int call)> FailWrite = [](int) { return false; };
    std::function<bool(int call)> FailRead = [](int) { return false; };
    std::function<bool(int call)> FailRemove = [](int) { return false; };
    std::function<void(int call)> AfterRead = [](int) {};
    // Runs at every call, on the calling thread, with the call's name.
    std::function<void(const std::string& op)> OnCall = [](const std::string&) {};
    // Like some SMB servers: an open file cannot be deleted.
    bool RefuseRemoveWhileOpen = false;

    std::vector<std::size_t> WriteSizes() const { return Locked(WriteSizes_); }
    std::vector<std::size_t> ReadRequests() const { return Locked(ReadRequests_); }
    std::vector<std::int64_t> ReadResults() const { return Locked(ReadResults_); }
    // "create", "open", "check", "write", "sync", "drop", "seek", "read",
    // "close", "remove" in the order the probe made them.
    std::vector<std::string> Calls() const { return Locked(Calls_); }
    void ClearRecords() {
        std::lock_guard lock(M_);
        WriteSizes_.clear();
        ReadRequests_.clear();
        ReadResults_.clear();
        Calls_.clear();
    }

    std::unique_ptr<IFile> CreateExclusive(const std::string& path) override {
        Log("create");
        return Wrap(Real_->CreateExclusive(path));
    }
    std::unique_ptr<IFile> OpenReadOnly(const std::string& path) override {
        Log("open");
        return Wrap(Real_->OpenReadOnly(path));
    }

  private:
    class TFile final : public IFile {
      public:
        TFile(TXferFileSystem& owner, std::unique_ptr<IFile> real)
            : Owner_(owner), Real_(std::move(real)) {}
        bool WriteAll(const void* data, std::size_t n) override {
            const int call = Owner_.Record(Owner_.WriteSizes_, n);
            Owner_.Log("write");
            Owner_.Clock_.Advance(Owner_.WriteMs(call));
            if (Owner_.FailWrite(call)) return false;
            return Real_->WriteAll(data, n);
        }
        std::int64_t Read(void* data, std::size_t n) override {
            const int call = Owner_.Record(Owner_.ReadRequests_, n);
            Owner_.Log("read");
            Owner_.Clock_.Advance(Owner_.ReadMs(call));
            const std::int64_t got = Owner_.FailRead(call) ? -1 : Real_->Read(data, n);
            Owner_.Record(Owner_.ReadResults_, got);
            Owner_.AfterRead(call);
            return got;
        }
        bool Seek(std::int64_t offset) override {
            Owner_.Log("seek");
            return Real_->Seek(offset);
        }
        bool SyncData() override {
            Owner_.Clock_.Advance(Owner_.SyncMs(Owner_.Log("sync")));
            return Real_->SyncData();
        }
        int DropCache() override {
            Owner_.Clock_.Advance(Owner_.DropMs(Owner_.Log("drop")));
            return Real_->DropCache();
        }
        bool StillAtPath() override {
            Owner_.Log("check");
            return Real_->StillAtPath();
        }
        void Close() override {
            Owner_.Log("close");
            Open_ = false;
            Real_->Close();
        }
        bool Remove() override {
            const int call = Owner_.Log("remove");
            if ((Owner_.RefuseRemoveWhileOpen && Open_) || Owner_.FailRemove(call)) return false;
            Open_ = false;
            return Real_->Remove();
        }

      private:
        TXferFileSystem& Owner_;
        std::unique_ptr<IFile> Real_;
        bool Open_ = true;
    };

    std::unique_ptr<IFile> Wrap(std::unique_ptr<IFile> real) {
        if (!real) return nullptr;
        return std::make_unique<TFile>(*this, std::move(real));
    }
    template <class T>
    int Record(std::vector<T>& v, T value) {
        std::lock_guard lock(M_);
        v.push_back(value);
        return static_cast<int>(v.size()) - 1;
    }
    // Logs the call; returns how many calls of that name came before it.
    int Log(const std::string& op) {
        OnCall(op);
        std::lock_guard lock(M_);
        int before = 0;
        for (const auto& c : Calls_) before += c == op;
        Calls_.push_back(op);
        return before;
    }
    template <class T>
    std::vector<T> Locked(const std::vector<T>& v) const {
        std::lock_guard lock(M_);
        return v;
    }

    TFakeClock& Clock_;
    std::shared_ptr<IFileSystem> Real_ = SystemFileSystem();
    mutable std::mutex M_;
    std::vector<std::size_t> WriteSizes_;
    std::vector<std::size_t> ReadRequests_;
    std::vector<std::int64_t> ReadResults_;
    std::vector<std::string> Calls_;
};

}  // namespace tarvik::test
