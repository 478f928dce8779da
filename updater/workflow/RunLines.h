// The log lines that more than one stage of an update run may write.
#pragma once

constexpr char kCheckFailedLine[] = "* 更新文件校验失败,已保留当前版本!";
constexpr char kUpdateFailedLine[] = "* 自动更新失败,请重试或选择手动更新!";
constexpr char kDownloadingLine[] = "* 发现新版本,正在下载最新版本!…";
