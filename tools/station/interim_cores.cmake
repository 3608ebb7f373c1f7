# Widget-free libraries of the feature logic, for the programs that have no
# window. Until each feature's CMakeLists defines its own core target, these
# take the logic files straight from the feature folders; a core target
# defined there wins and this file then adds nothing.
set(_src ${PROJECT_SOURCE_DIR}/src)

if(NOT TARGET rava_numbers)
    add_library(rava_numbers STATIC ${_src}/form/number_rule.cpp ${_src}/form/number_rule.h)
    target_include_directories(rava_numbers PUBLIC ${_src})
    target_link_libraries(rava_numbers PUBLIC Qt6::Core)
endif()

if(NOT TARGET rava_text_transfer_core)
    add_library(rava_text_transfer_core STATIC
        ${_src}/text_transfer/text_file_loader.cpp
        ${_src}/text_transfer/text_lines.cpp
        ${_src}/text_transfer/text_receiver.cpp
        ${_src}/text_transfer/text_sender.cpp
        ${_src}/text_transfer/text_words.cpp)
    target_link_libraries(rava_text_transfer_core PUBLIC rava_link)
endif()

if(NOT TARGET rava_image_transfer_core)
    add_library(rava_image_transfer_core STATIC
        ${_src}/image_transfer/image_receiver.cpp
        ${_src}/image_transfer/image_sender.cpp
        ${_src}/image_transfer/image_stream.cpp
        ${_src}/image_transfer/image_words.cpp
        ${_src}/image_transfer/temp_files.cpp)
    target_link_libraries(rava_image_transfer_core PUBLIC rava_link Qt6::Gui)
endif()

if(NOT TARGET rava_polling_core)
    add_library(rava_polling_core STATIC
        ${_src}/polling/master_poller.cpp
        ${_src}/polling/message_collector.cpp
        ${_src}/polling/poll_table.cpp
        ${_src}/polling/polling_words.cpp
        ${_src}/polling/slave_responder.cpp)
    target_link_libraries(rava_polling_core PUBLIC rava_link rava_numbers)
endif()

if(NOT TARGET rava_register_programming_core)
    add_library(rava_register_programming_core STATIC
        ${_src}/register_programming/register_programmer.cpp
        ${_src}/register_programming/register_words.cpp)
    target_link_libraries(rava_register_programming_core PUBLIC rava_link rava_numbers)
endif()
