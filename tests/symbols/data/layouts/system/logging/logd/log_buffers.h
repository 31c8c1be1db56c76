#pragma once
#include "../../../layout_fixture.h"

typedef enum log_id {
    LOG_ID_MIN = 0,
    LOG_ID_MAIN = 0,
    LOG_ID_RADIO = 1,
    LOG_ID_EVENTS = 2,
    LOG_ID_SYSTEM = 3,
    LOG_ID_CRASH = 4,
    LOG_ID_STATS = 5,
    LOG_ID_SECURITY = 6,
    LOG_ID_KERNEL = 7,
    LOG_ID_MAX
} log_id_t;

class SerializedData {
public:
    uint8_t* data_;
    size_t size_;
};

class SerializedLogChunk {
public:
    SerializedData contents_;
    int write_offset_;
    uint32_t reader_ref_count_;
    log_id_t log_id_;
    int write_active_;
    uint64_t highest_sequence_number_;
    SerializedData compressed_log_;
};

template <class T> struct List {
    List* prev;
    List* next;
    size_t size;
};

class LogBuffer {
public:
    virtual ~LogBuffer();
    virtual int Log(log_id_t id) = 0;
};

class SerializedLogBuffer final : public LogBuffer {
public:
    ~SerializedLogBuffer() override;
    int Log(log_id_t id) override;
    void* reader_list_;
    void* tags_;
    List<SerializedLogChunk> logs_[LOG_ID_MAX];
    size_t max_size_[LOG_ID_MAX];
};
