#include "loading/lexer.h"

#include "datatypes/more/error-ids.h"
#include "runtime-core/support.h"

namespace lexer {

namespace {

[[noreturn]] void not_done() {
    error::fire(error::kInternal, error::internal::not_done);
}

const TraceServices* trace_services = nullptr;

} // namespace

void init() {}
void release() {}

Cell* load_at(Cell*, const uint8_t*, uint32_t) {
    not_done();
}
Cell* load_push(const uint8_t*, uint32_t) {
    not_done();
}
uint8_t scan(Cell*, const uint8_t*, uint32_t, const ScanMode&, uint32_t*, const Cell*, const Cell*,
             const Cell*) {
    not_done();
}
uint8_t load_string(Cell*, const Cell*, int32_t, const ScanMode&, uint32_t*, const Cell*,
                    const Cell*) {
    not_done();
}
void transcode(const Cell*, const TranscodeOptions&, Cell*) {
    not_done();
}
void native_transcode(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {
    not_done();
}
void set_trace_services(const TraceServices* services) {
    trace_services = services;
}

} // namespace lexer
