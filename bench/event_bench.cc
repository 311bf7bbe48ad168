// Event serialisation: our framed round trip (type id varint, registry
// lookup, structural length check, parse into a new event) against the bare
// protobuf round trip of the same message in the same run. Report each
// Event_* case as a multiple of the Baseline_* case with the same message.

#include <benchmark/benchmark.h>

#include <string>

#include "media_common/media_events.h"

namespace dravo::media {
namespace {

DrivingFeedbackProto smallMessage() {
  DrivingFeedbackProto message;
  message.set_tag(0x123456789abcull);
  return message;
}

ProcessorResultsProto largerMessage() {
  ProcessorResultsProto message;
  message.set_processor("face_detector");
  message.set_frame_timestamp_ns(1234567890123);
  for (int i = 0; i < 8; ++i) {
    auto* result = message.add_results();
    result->set_name("result_" + std::to_string(i));
    result->set_value(i * 0.25);
  }
  return message;
}

template <typename Proto>
void baselineRoundTrip(benchmark::State& state, Proto const& message) {
  std::string bytes;
  for (auto _ : state) {
    message.SerializeToString(&bytes);
    Proto copy;
    bool ok = copy.ParseFromString(bytes);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(copy);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

template <typename EventType>
void eventRoundTrip(benchmark::State& state, EventType const& event) {
  std::string bytes;
  for (auto _ : state) {
    event.serialize(&bytes);
    std::shared_ptr<Event> copy =
        Event::deserialize(bytes.data(), static_cast<unsigned int>(bytes.size()));
    benchmark::DoNotOptimize(copy);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

void BM_Baseline_ProtoRoundTrip_DrivingFeedback(benchmark::State& state) {
  baselineRoundTrip(state, smallMessage());
}
void BM_Event_RoundTrip_DrivingFeedback(benchmark::State& state) {
  eventRoundTrip(state, DrivingFeedbackEvent(smallMessage()));
}
void BM_Baseline_ProtoRoundTrip_ProcessorResults(benchmark::State& state) {
  baselineRoundTrip(state, largerMessage());
}
void BM_Event_RoundTrip_ProcessorResults(benchmark::State& state) {
  eventRoundTrip(state, ProcessorResultsEvent(largerMessage()));
}

BENCHMARK(BM_Baseline_ProtoRoundTrip_DrivingFeedback);
BENCHMARK(BM_Event_RoundTrip_DrivingFeedback);
BENCHMARK(BM_Baseline_ProtoRoundTrip_ProcessorResults);
BENCHMARK(BM_Event_RoundTrip_ProcessorResults);

}  // namespace
}  // namespace dravo::media
