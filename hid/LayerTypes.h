// Foundations of the HID device layer: its exception classes, event delegates,
// the component base and the text types.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quorvel::hid {

// Text inside the layer is UTF-16, as the platform gives it.
using TString = std::u16string;
// An ordered list of texts; duplicates are kept.
using TStringList = std::vector<std::u16string>;

// Base of every exception the layer throws. The message is UTF-8.
class ELayerException : public std::exception {
 public:
  explicit ELayerException(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  // The class name, for the tool's "ClassName: message" line.
  virtual const char* ClassName() const noexcept { return "ELayerException"; }

 private:
  std::string message_;
};

// Misuse of the layer, and a device that cannot be identified.
class EControllerError : public ELayerException {
 public:
  using ELayerException::ELayerException;
  const char* ClassName() const noexcept override { return "EControllerError"; }
};

// An event handler: a function together with the object it is called on. It is
// assigned when its function is set; two handlers are equal when both parts are.
// (std::function cannot be compared, and the propagating setters compare.)
template <typename Signature>
class TDelegate;

template <typename R, typename... Args>
class TDelegate<R(Args...)> {
 public:
  using TCode = R (*)(void* target, Args...);

  constexpr TDelegate() = default;
  constexpr TDelegate(void* target, TCode code) : target_(target), code_(code) {}

  // A handler calling `Method` on `object`: TDelegate<...>::Of<&T::Method>(&obj).
  template <auto Method, typename T>
  static TDelegate Of(T* object) {
    return TDelegate(static_cast<void*>(object), &MemberThunk<Method, T>);
  }

  bool Assigned() const { return code_ != nullptr; }
  explicit operator bool() const { return Assigned(); }
  void* Target() const { return target_; }
  TCode Code() const { return code_; }

  R operator()(Args... args) const { return code_(target_, std::forward<Args>(args)...); }

  friend bool operator==(const TDelegate&, const TDelegate&) = default;

 private:
  template <auto Method, typename T>
  static R MemberThunk(void* target, Args... args) {
    return (static_cast<T*>(target)->*Method)(std::forward<Args>(args)...);
  }

  void* target_ = nullptr;
  TCode code_ = nullptr;
};

// A component with an optional owner: an owner destroys the components it owns
// when it is destroyed itself. Its state tells whether its properties are being
// loaded from a stored description and whether its destruction has begun.
class TLayerComponent {
 public:
  explicit TLayerComponent(TLayerComponent* AOwner = nullptr);
  virtual ~TLayerComponent();
  TLayerComponent(const TLayerComponent&) = delete;
  TLayerComponent& operator=(const TLayerComponent&) = delete;

  TLayerComponent* Owner() const { return owner_; }
  bool Loading() const { return loading_; }
  bool Destroying() const { return destroying_; }

  // Bracket the restoring of stored properties; setters that act (scan, start
  // threads) only store while loading.
  void BeginLoading() { loading_ = true; }
  void EndLoading() { loading_ = false; }

 protected:
  // Derived destructors call this first, so that their own teardown sees it.
  void MarkDestroying() { destroying_ = true; }

 private:
  TLayerComponent* owner_ = nullptr;
  std::vector<TLayerComponent*> components_;  // owned; see the destructor
  bool loading_ = false;
  bool destroying_ = false;
};

// A worker thread that is asked to stop and then waited for. The body runs on
// the new thread from Start() until it returns. Debuggers show it by its name.
class TCustomThread {
 public:
  // As a thread ID: the thread of the object it is passed to.
  static constexpr uint32_t kOwnThread = 0xFFFFFFFF;

  TCustomThread() = default;
  // Asks the body to stop and waits for it. A derived class whose body uses its
  // own members stops the thread in its own destructor, before they go.
  virtual ~TCustomThread();
  TCustomThread(const TCustomThread&) = delete;
  TCustomThread& operator=(const TCustomThread&) = delete;

  // Returns once the new thread has its ID.
  void Start();
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  // Waits until the body has returned; returns at once when it never started.
  void WaitFor();
  // The system's ID of the thread; 0 until Start().
  uint32_t ThreadID() const { return threadId_.load(); }
  virtual const char* ClassName() const noexcept { return "TCustomThread"; }

  // The given name followed by " {ClassName}", or the class name alone.
  virtual TString ThreadName() const;
  virtual void SetThreadName(const TString& Value);
  // Shows AThreadName (in the system's ANSI code page: UTF-8 on POSIX) as the name of
  // thread AThreadID (kOwnThread: this object's thread) in debuggers. Linux keeps 15
  // bytes of a name.
  virtual void NameThread(const std::string& AThreadName, uint32_t AThreadID);
  void NameThread(const TString& AThreadName, uint32_t AThreadID);

 protected:
  virtual void Execute() = 0;

 private:
  std::atomic<bool> terminated_{false};
  std::atomic<uint32_t> threadId_{0};
  std::thread thread_;
  mutable std::mutex nameLock_;  // the name may be set while the body reads it
  TString FThreadName;
};

}  // namespace quorvel::hid
