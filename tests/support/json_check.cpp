#include "support/json_check.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

std::string check_json_texts(const std::vector<std::string>& texts) {
  char path[] = "/tmp/tivel-json-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "cannot create a temporary file";
  close(fd);
  {
    // One text per record, length-prefixed, so any byte may appear inside a text.
    std::ofstream out(path, std::ios::binary);
    for (const std::string& text : texts) out << text.size() << '\n' << text;
  }
  std::string script =
      "const b=require('fs').readFileSync(process.argv[1]);let p=0,i=0;"
      "const d=new TextDecoder('utf-8',{fatal:true});"
      "while(p<b.length){const nl=b.indexOf(10,p);const n=+b.subarray(p,nl).toString();"
      "const t=b.subarray(nl+1,nl+1+n);p=nl+1+n;"
      "try{JSON.parse(d.decode(t));}catch(e){console.log('text '+i+': '+e.message+': '+"
      "t.toString('hex').slice(0,200));process.exit(1);}i++;}";
  std::string command = "node -e \"" + script + "\" " + path + " 2>&1";
  std::string result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "cannot run node";
  char chunk[512];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.append(chunk, got);
  int status = pclose(pipe);
  unlink(path);
  if (status != 0 && result.empty()) return "node failed";
  return status == 0 ? "" : result;
}
