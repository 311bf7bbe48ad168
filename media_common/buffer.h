#pragma once
// The base of every payload that flows through pads (image frames, audio
// blocks, encoded frames).
//
// Besides the `DataBase` fields a buffer carries metadata events, in the
// order they were attached, and the flow-control tokens it holds. A token goes
// back to its pool when the last copy of the last buffer that holds it is
// released, so a pool bounds how many buffers are alive downstream. Copying a
// buffer shares its events and tokens.
//
// Owner: whoever made the buffer; once sent it is shared as a pointer to
// const. Only the token list changes after that, through `addToken`, by the
// sending pad before the buffer reaches any other thread.

#include <memory>
#include <typeinfo>
#include <vector>

#include "media_common/data_base.h"
#include "media_common/event.h"
#include "media_common/token_reference.h"

namespace dravo::media {

class Buffer : public DataBase {
 public:
  Buffer() = default;
  ~Buffer() override;
  Buffer(Buffer const&) = default;
  Buffer& operator=(Buffer const&) = default;
  Buffer(Buffer&&) = default;
  Buffer& operator=(Buffer&&) = default;

  // Appends `event` after the existing metadata; duplicates are kept.
  void appendEventToMetadata(std::shared_ptr<Event const> const& event);
  // The first event whose dynamic type is exactly `type`, or null.
  std::shared_ptr<Event const> getMetadataByTypeId(std::type_info const& type) const;
  // Typed form of getMetadataByTypeId.
  template <typename T>
  std::shared_ptr<T const> getMetadata() const {
    return std::static_pointer_cast<T const>(getMetadataByTypeId(typeid(T)));
  }
  // Removes every event whose dynamic type is exactly `type`.
  void removeEventFromMetadata(std::type_info const& type);
  // Removes all events; the tokens stay.
  void resetMetaData();

  // Merges `other` into this buffer: keeps the earlier creation time, appends
  // other's events and then its tokens. Start timestamp and priority stay.
  // `other` may be this buffer itself.
  void combineMetadata(Buffer const& other);
  // combineMetadata, then takes other's start timestamp and priority. A
  // filter calls this on each buffer it makes from an input buffer.
  void copyMetadata(Buffer const& other);

  void addToken(TokenReference const& token) const;
  std::vector<TokenReference> const& getTokens() const { return tokens_; }

  std::vector<std::shared_ptr<Event const>> const& getMetadataMap() const { return metadata_; }

 private:
  std::vector<std::shared_ptr<Event const>> metadata_;
  mutable std::vector<TokenReference> tokens_;
};

}  // namespace dravo::media
