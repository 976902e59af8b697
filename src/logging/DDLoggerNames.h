#pragma once

// The names of the concrete loggers; each is also the label of that logger's queue.
inline constexpr const char* DDLoggerNameOS = "cocoa.vidadudidu.osLogger";
inline constexpr const char* DDLoggerNameFile = "cocoa.vidadudidu.fileLogger";
inline constexpr const char* DDLoggerNameTTY = "cocoa.vidadudidu.ttyLogger";
inline constexpr const char* DDLoggerNameASL = "cocoa.vidadudidu.aslLogger";
