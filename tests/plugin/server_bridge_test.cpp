// The server bridge driven through a recording host: server-message handlers, waiters and
// their jobs, the session invoke, and observed resources.
#include "plugin/server_bridge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "event_host_support.h"
#include "plugin/event_layer.h"

namespace Kavren::Testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kNoteClass[] = "com.test.Note";
constexpr char kNoteEvent[] = "OnQrmsEvent_com_test_Note";

std::string QrmsPayload(const std::string& typeName, const std::string& body) {
  return R"({"clientId":"c","subtopic":"s","typeName":")" + typeName + R"(","body":)" + body + "}";
}

class ServerBridgeTest : public ::testing::Test {
 protected:
  FakeEventHost host_;
  StartedModule module_{host_};
  std::vector<std::string> seen_;

  std::function<void(const Note&)> Handler(const char* who) {
    return [this, who](const Note& note) {
      seen_.push_back(std::string(who) + " " + note.text + " " + std::to_string(note.count));
    };
  }
};

TEST_F(ServerBridgeTest, EachServerMessageRunsTheCurrentHandlerInAJobOfItsOwn) {
  module_->RegisterQrmsHandler<Note>(kNoteClass, Handler("first"));
  EXPECT_THAT(host_.Calls(), ElementsAre("Subscribe OnQrmsEvent_com_test_Note 1"));

  EXPECT_TRUE(host_.Deliver(kNoteEvent, QrmsPayload(kNoteClass, R"({"text":"a","count":1})")));
  EXPECT_THAT(seen_, IsEmpty());  // not on the event's thread
  ASSERT_EQ(host_.Jobs().size(), 1u);
  EXPECT_EQ(host_.Jobs()[0].label, "Event: OnQrmsEvent (com.test.Note)");
  EXPECT_EQ(host_.Jobs()[0].delaySeconds, 0.0);
  EXPECT_EQ(module_->PendingJobCount(), 1u);
  host_.RunJob(0);
  EXPECT_THAT(seen_, ElementsAre("first a 1"));
  EXPECT_EQ(module_->PendingJobCount(), 0u);

  // A second registration replaces the handler and subscribes again; the handler is looked
  // up when the job runs, so a replacement in between is the one that runs.
  module_->RegisterQrmsHandler<Note>(kNoteClass, Handler("second"));
  EXPECT_TRUE(host_.Deliver(kNoteEvent, QrmsPayload(kNoteClass, R"({"text":"b"})")));
  module_->RegisterQrmsHandler<Note>(kNoteClass, Handler("third"));
  host_.RunJob(1);
  EXPECT_THAT(seen_, ElementsAre("first a 1", "third b 0"));
  EXPECT_EQ(host_.Calls().back(), "Subscribe OnQrmsEvent_com_test_Note 1");
}

TEST_F(ServerBridgeTest, MessagesWithoutHandlerOrWithAWrongBodyAreDropped) {
  module_->RegisterQrmsHandler<Note>(kNoteClass, Handler("h"));
  // No handler for the type name: no job.
  EXPECT_TRUE(host_.Deliver(kNoteEvent, QrmsPayload("com.test.Other", R"({"text":"a"})")));
  EXPECT_THAT(host_.Jobs(), IsEmpty());
  // A member of the wrong kind fails the conversion: the job runs and drops the message.
  EXPECT_TRUE(host_.Deliver(kNoteEvent, QrmsPayload(kNoteClass, R"({"count":"many"})")));
  host_.RunJob(0);
  // Missing members take their defaults.
  EXPECT_TRUE(host_.Deliver(kNoteEvent, QrmsPayload(kNoteClass, R"({"count":5})")));
  host_.RunJob(1);
  EXPECT_THAT(seen_, ElementsAre("h  5"));
  EXPECT_EQ(module_->PendingJobCount(), 0u);
}

TEST_F(ServerBridgeTest, AWaiterTakesTheNextMessageOnTheEventsThread) {
  module_->RegisterQrmsHandler<Note>(kNoteClass, Handler("h"));
  std::vector<std::string> waited;
  module_->AddQrmsWaiter(kNoteClass, [&waited](const PluginQrmsEvent& event) {
    waited.push_back(event.clientId + " " + std::string(event.body.Find("text").GetString()));
  });
  EXPECT_TRUE(host_.Deliver(kNoteEvent, QrmsPayload(kNoteClass, R"({"text":"w"})")));
  EXPECT_THAT(waited, ElementsAre("c w"));
  EXPECT_THAT(host_.Jobs(), IsEmpty());
  // One-shot: the next message goes to the handler.
  EXPECT_TRUE(host_.Deliver(kNoteEvent, QrmsPayload(kNoteClass, R"({"text":"x"})")));
  host_.RunJob(0);
  EXPECT_THAT(seen_, ElementsAre("h x 0"));
}

TEST_F(ServerBridgeTest, InvokeQrmsPostsTheTaggedParameterThroughTheSessionInvoke) {
  Envelope envelope{"env", Note{"n", 1}, {Note{"m", 2}}};
  FailureFuture invoked = module_->InvokeQrms("clientFacadeService", "call", envelope);
  // The host call is synchronous: the future is ready at once.
  EXPECT_TRUE(module_->Await(invoked).Succeeded());
  EXPECT_THAT(host_.Calls(), ElementsAre("Call 6 /hxa-login/v1/session/invoke"));
  const HostCall call = host_.HostCalls().at(0);
  EXPECT_EQ(call.cookie, 77u);
  EXPECT_THAT(call.arguments,
              ElementsAre(R"("clientFacadeService")", R"("call")",
                          R"([{"__class":"com.test.Envelope","label":"env",)"
                          R"("note":{"__class":"com.test.Note","count":1,"text":"n"},)"
                          R"("notes":[{"__class":"com.test.Note","count":2,"text":"m"}]}])"));

  host_.SetResponder([](Abi::HttpResponseRecord& response, const HostCall&) {
    FakeEventHost::ReplyError(response, 502, "server away");
  });
  FailureFuture refused = module_->InvokeQrms("svc", "m", Note{"n", 1});
  const MaybeType<Failure, void> outcome = module_->Await(refused);
  ASSERT_TRUE(outcome.Failed());
  EXPECT_EQ(outcome.GetFailure().code, 502);
  EXPECT_EQ(outcome.GetFailure().message,
            "Error response for POST /hxa-login/v1/session/invoke: server away");
}

TEST_F(ServerBridgeTest, InvokeQrmsWithAnUnconvertibleParameterCallsNothing) {
  FailureFuture failed = module_->InvokeQrms("svc", "m", Unregistered{});
  ASSERT_EQ(failed.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  const MaybeType<Failure, void> outcome = failed.get();
  ASSERT_TRUE(outcome.Failed());
  EXPECT_EQ(outcome.GetFailure().message.Str().rfind("Couldn't convert QRMS call parameters: ", 0),
            0u);
  EXPECT_GT(outcome.GetFailure().message.View().size(),
            std::string("Couldn't convert QRMS call parameters: ").size());
  EXPECT_THAT(host_.Calls(), IsEmpty());
}

TEST_F(ServerBridgeTest, ObservedResourcesAreReadAtOnceThenFollowed) {
  host_.SetResponder([](Abi::HttpResponseRecord& response, const HostCall& call) {
    if (call.path == "/hxa-x/v1/note") FakeEventHost::ReplyJson(response, R"({"text":"now"})");
  });
  std::vector<std::string> seen;
  module_->ObserveResource<Note>(
      "/hxa-x/v1/note", [&seen](const std::string& uri, const Note& note) {
        seen.push_back(uri + " " + note.text + " " + std::to_string(note.count));
      });
  EXPECT_THAT(host_.Calls(),
              ElementsAre("Subscribe OnJsonApiEvent_hxa-x_v1_note 0", "Call 2 /hxa-x/v1/note"));
  const std::string name = "OnJsonApiEvent_hxa-x_v1_note";
  EXPECT_TRUE(host_.Deliver(
      name, R"({"uri":"/hxa-x/v1/note","eventType":"Update","data":{"text":"u","count":4}})"));
  EXPECT_TRUE(
      host_.Deliver(name, R"({"uri":"/hxa-x/v1/note","eventType":"Update","data":{"count":"x"}})"));
  EXPECT_TRUE(host_.Deliver(
      name, R"({"uri":"/hxa-x/v1/note","eventType":"Delete","data":{"text":"gone"}})"));
  EXPECT_THAT(seen, ElementsAre("/hxa-x/v1/note now 0", "/hxa-x/v1/note u 4", "/hxa-x/v1/note  0"));
}

TEST_F(ServerBridgeTest, ObservedResourcesThatCannotBeReadOrArePatternsWaitForChanges) {
  host_.SetResponder([](Abi::HttpResponseRecord& response, const HostCall&) {
    FakeEventHost::ReplyError(response, 404, "missing");
  });
  std::vector<std::string> seen;
  auto record = [&seen](const std::string& uri, const Note& note) {
    seen.push_back(uri + " " + note.text);
  };
  module_->ObserveResource<Note>("/hxa-x/v1/missing", record);
  module_->ObserveResource<Note>("/hxa-y/v1/items/*", record);
  EXPECT_THAT(host_.Calls(),
              ElementsAre("Subscribe OnJsonApiEvent_hxa-x_v1_missing 0", "Call 2 /hxa-x/v1/missing",
                          "Subscribe OnJsonApiEvent_hxa-y_v1_items 0"));
  EXPECT_THAT(seen, IsEmpty());
  EXPECT_TRUE(
      host_.Deliver("OnJsonApiEvent_hxa-y_v1_items",
                    R"({"uri":"/hxa-y/v1/items/7","eventType":"Create","data":{"text":"i"}})"));
  EXPECT_THAT(seen, ElementsAre("/hxa-y/v1/items/7 i"));
}

}  // namespace
}  // namespace Kavren::Testing
