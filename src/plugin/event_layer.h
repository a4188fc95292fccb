// The lowest layer of the application module: the host session and the tables of host
// events, subscriptions, service-proxy replies, scheduled jobs and the server bridge,
// reaching the host through the nine host operations that AppModule implements. The
// typed event operations are defined in typed_events.h, the bridge's in server_bridge.*.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "abi/event.h"
#include "abi/host.h"
#include "binding/registry.h"
#include "binding/value.h"
#include "http/future.h"
#include "http/remoting.h"
#include "plugin/endpoint_table.h"
#include "plugin/framework_types.h"
#include "plugin/handler_table.h"
#include "plugin/job_table.h"
#include "plugin/module_directory.h"
#include "plugin/server_class.h"
#include "plugin/service_proxy_table.h"
#include "plugin/subscription_table.h"
#include "plugin/telemetry_sender.h"
#include "util/failure.h"

namespace Kavren {

/// Keeps the module's host session (cookie, user agent, telemetry sender) and its event
/// tables, and declares the host operations, implemented by AppModule.
/// Virtual operations in slot order: Subscribe, Unsubscribe, destructor, Shutdown, then
/// the nine host operations.
class EventLayer {
 public:
  EventLayer(const EventLayer&) = delete;
  EventLayer& operator=(const EventLayer&) = delete;

  /// [host thread] Counted subscription to the host event of a resource path: the first
  /// subscription of an event name registers the resource-event dispatcher for it.
  virtual void Subscribe(const std::string& resourcePath);
  /// [host thread] Counted unsubscription: the last one of an event name unsubscribes
  /// with the host and forgets the name's handler. Unbalanced calls are ignored.
  virtual void Unsubscribe(const std::string& resourcePath);
  virtual ~EventLayer();
  /// [host thread, at Stop] Unsubscribes every host event held and empties the tables.
  virtual void Shutdown();

  // The host operations: valid between Start and Stop only.
  virtual void Call(Abi::HttpResponseRecord* response, const Abi::HttpRequestRecord* request) = 0;
  virtual void Reserved(Abi::HostWord first, Abi::HostWord second) = 0;
  virtual void PublishEvent(const Abi::HostEventRecord* event) = 0;
  virtual void SubscribeWithHost(const char* eventName, std::uint32_t cookie,
                                 Abi::HostEventCallback callback, void* context,
                                 std::int32_t flag) = 0;
  virtual void UnsubscribeWithHost(const char* eventName, std::uint32_t cookie) = 0;
  virtual void ScheduleJob(const char* label, Abi::HostJobCallback job, void* context,
                           double delaySeconds, std::int32_t flags) = 0;
  virtual void Pump() = 0;
  virtual void BeginWait(const std::string& label) = 0;
  virtual void EndWait() = 0;

  /// [at the end of load, once the module is complete] Lists the module in the
  /// process-wide directory: from now on host calls can find it, and only now, as every
  /// lookup reads the tables of every listed module.
  void OpenToHost() noexcept;

  /// The module's directory id: the context of its event callbacks.
  [[nodiscard]] std::uintptr_t ModuleId() const { return lifetime_.id; }
  /// The jobs scheduled and not yet run, by ticket.
  [[nodiscard]] const JobTable& Jobs() const { return jobs_; }
  /// The endpoint registrations handed to the host, by ticket.
  [[nodiscard]] const EndpointTable& Endpoints() const { return endpoints_; }

  /// True once Stop has closed the module to the host: no host function is called any
  /// more, waits end and calls that were running fail.
  [[nodiscard]] bool HostClosed() const { return hostClosed_.load(std::memory_order_acquire); }

  /// The host's cookie, passed back to Subscribe, Unsubscribe and Call; 0 before start.
  [[nodiscard]] std::uint32_t Cookie() const { return cookie_; }
  /// "KavrenClient/<core API> (<short name>)"; empty before start.
  [[nodiscard]] const std::string& UserAgent() const { return userAgent_; }
  /// The telemetry sender; null before start.
  [[nodiscard]] TelemetrySender* Telemetry() const { return telemetry_.get(); }
  /// The module's registry: converts every payload, resource and parameter.
  [[nodiscard]] BindingRegistry& Registry() const { return *registry_; }
  /// The server classes of the registered server records.
  [[nodiscard]] ServerClassTable& ServerClasses() { return serverClasses_; }
  /// What the remoting calls need: the host table (null before start and after Stop),
  /// the cookie, the registry, and this module as the waiting interface.
  [[nodiscard]] RemotingContext Remoting();
  /// The host-waiting operations of this module (BeginWait, Pump, EndWait).
  [[nodiscard]] HostWaiting& Waiting() { return waiting_; }

  /// [host thread] Stores `handler` for `eventName` (replacing an earlier one) and
  /// subscribes with the host, giving the host callback of T and this module as context.
  template <class T>
  void RegisterEventHandler(const std::string& eventName, std::function<void(const T&)> handler,
                            std::int32_t flag);

  /// [host thread] The handler of resource events of an exact path, or of a pattern when
  /// `pathOrPattern` holds "*"; registering a path or pattern again replaces its handler.
  void SetResourceHandler(const std::string& pathOrPattern, ResourceEventHandler handler);

  /// [host thread] Announces that the resource at `path` changed: publishes a
  /// PluginResourceEvent under the path's event name and then under "OnJsonApiEvent".
  /// Fails (code 0) when the resource or the event cannot be converted; then nothing is
  /// sent.
  template <class T>
  [[nodiscard]] MaybeType<Failure, void> PublishResource(PluginResourceEventType eventType,
                                                         const std::string& path,
                                                         const T& resource);
  /// As above with the resource already in value form.
  [[nodiscard]] MaybeType<Failure, void> PublishResourceValue(PluginResourceEventType eventType,
                                                              const std::string& path,
                                                              const BindingProperty& data);

  /// [any host thread] Enters a request waiting for the service-proxy reply under `key`
  /// (a uuid, or "service.method"). Its handler runs after the service-proxy lock is
  /// released.
  void AddServiceProxyRequest(const std::string& key, ServiceProxyHandler handler);
  /// [any host thread] The handler of asynchronous replies of "service.method"; same
  /// rule as above.
  void AddServiceProxyAsyncHandler(const std::string& key, ServiceProxyHandler handler);
  /// [host thread] The handlers of the three service-proxy events.
  void OnServiceProxyUuidEvent(const PluginServiceProxyResponse& reply);
  void OnServiceProxyMethodEvent(const PluginServiceProxyResponse& reply);
  void OnServiceProxyAsyncEvent(const PluginServiceProxyResponse& reply);

  /// [any host thread] Runs `job` once on a host thread at `dueNanoseconds` of
  /// NowNanoseconds (at once when that is not in the future). The job's entry stays in
  /// the pending-job table until the host runs it; the host holds only its ticket.
  void ScheduleJob(const std::string& label, ScheduledJob job, std::int64_t dueNanoseconds);
  /// The clock of ScheduleJob's due times: monotonic nanoseconds.
  [[nodiscard]] static std::int64_t NowNanoseconds();
  /// Jobs scheduled and not yet run.
  [[nodiscard]] std::size_t PendingJobCount() const;

  /// [at start] Handles the server messages of `serverClass` with `handler`, which gets
  /// the body converted to T; replaces an earlier handler of the class and subscribes
  /// to the class's event. Each message runs the handler in a job of its own.
  template <class T>
  void RegisterQrmsHandler(const std::string& serverClass, std::function<void(const T&)> handler);
  /// [any host thread] A one-shot waiter for the next server message of `typeName`;
  /// consulted before the handlers, on the event's thread.
  void AddQrmsWaiter(const std::string& typeName, QrmsEventHandler waiter);
  /// [host thread] The server-message event handler: a waiter, else a job for the
  /// class's handler, else nothing.
  void OnQrmsEvent(const PluginQrmsEvent& event);

  /// [host thread] Calls `method` of the server service `service` with `parameter`
  /// (tagged with its server class) through the host's session invoke. Synchronous:
  /// the returned future is already fulfilled with the outcome.
  template <class T>
  [[nodiscard]] FailureFuture InvokeQrms(const std::string& service, const std::string& method,
                                         const T& parameter);
  /// As above with the parameter already converted (a failed result fails the call).
  [[nodiscard]] FailureFuture InvokeQrmsValue(const std::string& service, const std::string& method,
                                              BindingResult parameter,
                                              const TypeRef& parameterType);

  /// [host thread] Delivers the resource at `uri` (or every resource matching a pattern
  /// with "*") to `handler` as T: for an exact URI a read at once, then every change; a
  /// deleted resource arrives as a default T. Resources that do not convert are skipped.
  template <class T>
  void ObserveResource(const std::string& uri,
                       std::function<void(const std::string& uri, const T& record)> handler);
  /// As above with a handler of the resource events themselves.
  void ObserveResourceEvents(const std::string& uri, ResourceEventHandler handler);

  /// The host callback of payload type T, called by detail::HostEventEntry<T>.
  template <class T>
  void DeliverHostEvent(const Abi::HostEventRecord& event);

 protected:
  EventLayer();

  /// [at construction of the module] The registry all conversions use; must outlive the
  /// event layer's use of it.
  void AttachRegistry(BindingRegistry& registry) { registry_ = &registry; }

  /// [host thread, at Start] Keeps the host's table and cookie and the user agent,
  /// creates the telemetry sender and subscribes to the three service-proxy events.
  void BeginHostSession(Abi::HostFunctions* functions, std::uint32_t cookie, std::string userAgent);

  /// [at construction of the module] How the directory destroys the module after Stop,
  /// and the address the host knows it by (the function table's context).
  void SetDestruction(void (*destroy)(EventLayer* module), const void* context) {
    lifetime_.destroy = destroy;
    lifetime_.context = context;
  }
  /// [at load] Hands the host tickets in place of the router's registrations.
  void InstallEndpoints(Abi::PluginApiBlock& block, Abi::ApiRequestEntry moduleEntry) {
    endpoints_.Install(block, moduleEntry);
  }
  /// [at Stop] See HostClosed.
  void CloseHost() { hostClosed_.store(true, std::memory_order_release); }

 private:
  // Forwards the waiting operations to the module's host operations.
  class ModuleWaiting final : public HostWaiting {
   public:
    explicit ModuleWaiting(EventLayer& layer) : layer_(layer) {}
    void BeginWait(const std::string& label, std::int32_t) override { layer_.BeginWait(label); }
    MaybeType<Failure, void> Pump() override {
      layer_.Pump();
      return MaybeType<Failure, void>::Success();
    }
    void EndWait() override { layer_.EndWait(); }

   private:
    EventLayer& layer_;
  };

  static void HXA_CDECL JobEntryPoint(void* context);
  void RunJob(std::uintptr_t ticket);

  void DispatchResourceEvent(const PluginResourceEvent& event);
  void SetQrmsHandler(const std::string& serverClass, QrmsEventHandler handler);
  void RunQrmsJob(const PluginQrmsEvent& event);

  std::uint32_t cookie_ = 0;
  std::string userAgent_;
  Abi::HostFunctions* functions_ = nullptr;
  std::unique_ptr<TelemetrySender> telemetry_;
  BindingRegistry* registry_ = nullptr;
  ModuleWaiting waiting_{*this};
  ServerClassTable serverClasses_;

  // Each table has its own lock and its own lifetime rules (see each class).
  SubscriptionTable subscriptions_;
  HandlerTable handlers_;
  ServiceProxyTable serviceProxies_;
  JobTable jobs_;
  EndpointTable endpoints_;
  // The module's place in the directory of live modules; entered at construction.
  ModuleLifetime lifetime_;
  std::atomic<bool> hostClosed_{false};
};

}  // namespace Kavren
