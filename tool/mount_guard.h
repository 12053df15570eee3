// Mounting a command's file system for the length of the command.
#pragma once

#include "utility/virtual_file_system.h"

// Unmounts a file system that lives on the command's frame when the command ends, also by an
// exception.
class MountGuard {
public:
    explicit MountGuard(int id) : id_(id) {}
    ~MountGuard() { kam::VirtualFileSystem::instance().unmount(id_); }
    MountGuard(const MountGuard&) = delete;
    MountGuard& operator=(const MountGuard&) = delete;

private:
    int id_;
};
