// Late-bound calls on a component object.
#include <new>
#include <utility>
#include <zembra/component.hpp>
#include <zembra/runtime.hpp>

namespace zembra {

// Out of line so that the vtables and typeinfo live only in this library.
Dispatch::~Dispatch() = default;
ClassFactory::~ClassFactory() = default;

Object::Object(std::shared_ptr<Dispatch> object, std::shared_ptr<Library> library)
    : library_(std::move(library)), object_(std::move(object)) {}

namespace {

// A component's errors pass through unchanged; anything else it lets escape becomes an
// Error so that callers only ever deal with one kind of failure.
template <typename F>
Variant guarded(F&& body) {
    try {
        return body();
    } catch (const Error&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw Error::standard(err::kOutOfMemory);
    } catch (const std::exception& e) {
        throw Error::standard(err::kInternal, "Zembra", e.what());
    }
}

}  // namespace

int32_t Object::resolve(std::string_view member) const {
    if (!object_) throw Error::standard(err::kObjectNotSet);
    const int32_t id = object_->memberId(member);
    if (id == -1)
        throw Error::standard(err::kNoSuchMember, "Zembra", "'" + std::string(member) + "'");
    return id;
}

Variant Object::get(std::string_view member) {
    const int32_t id = resolve(member);
    return guarded([&] { return object_->invoke(id, InvokeKind::PropertyGet, {}); });
}

void Object::put(std::string_view member, const Variant& value) {
    const int32_t id = resolve(member);
    Variant argument = value;
    guarded([&] { return object_->invoke(id, InvokeKind::PropertyPut, std::span(&argument, 1)); });
}

Variant Object::call(std::string_view member, std::span<Variant> args) {
    const int32_t id = resolve(member);
    return guarded([&] { return object_->invoke(id, InvokeKind::Method, args); });
}

}  // namespace zembra
