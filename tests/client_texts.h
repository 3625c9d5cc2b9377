// The database client's dialogue texts, for the tests that drive it. Include only from test files
// compiled with the programs' GBK execution character set, so that these are the same bytes.
#pragma once

#include <string>
#include <vector>

namespace clienttexts {

inline const std::vector<std::string> questions = {
    "数据库(localhost或域名或IP地址):",
    "用户名:",
    "密码:",
    "数据库名称:",
    "服务器的端口号(默认 3306):",
    "Unix 系统下的套接字文件路径(默认 NULL):",
    "客户端连接标志位(默认 0):",
};

// The first `count` questions, as they stand one after the other when the answers are typed ahead.
inline std::string firstQuestions(size_t count) {
  std::string text;
  for (size_t k = 0; k < count; k++) {
    text += questions[k];
  }
  return text;
}

inline const std::string allQuestions = firstQuestions(7);
inline const std::string connected = "成功连接MySQL!\nmarun tools mysql:输入“mysqlHelp”寻求帮助\n";
inline const std::string prompt = "vexo-1.2.0/vexoMySQL.exe/> ";

}  // namespace clienttexts
