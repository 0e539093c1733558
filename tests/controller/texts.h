// Texts of the window that the controller tests look for.
#pragma once

#define STARTING_PILL L"●  正在启动"
#define STARTING_PLACEHOLDER L"正在启动连接器…"
#define UNREACHABLE_PILL L"●  服务不可用"
#define IDLE_PILL L"●  未连接"
#define ONLINE_PILL L"●  已连接"
#define ERROR_PILL L"●  连接失败"
#define BUSY_PLACEHOLDER L"正在处理，请稍候…"
#define ACTION_FAILED_TEXT L"连接器未能完成操作，请稍后重试。"
#define START_RELAY_SWITCH L"切换并连接"
#define START_IDLE L"开始连接"
#define RETRY_START_CONNECTOR L"启动连接器"
#define UNPAIR_TEXT L"已配对的手机会断开。你可以用新二维码重新连接。"
#define UNPAIR_CAPTION L"解除手机配对？"
#define EXPIRED_PLACEHOLDER L"二维码已过期，正在更新…"
#define STATUS_PATH "/api/connector/desktop"
