#!/usr/bin/env bash
# Checks that the filter definition's texts, as the module hands them to the
# host, are the GBK (code page 936) encoding of the texts below:
#   check-definition-texts.sh RUN_WINE PREFIX MODULE_TESTS
set -euo pipefail
run_wine=$1 prefix=$2 program=$3

name='Tavrel'
maker='(外挂) 视频滤镜'
description='Tavrel 版本 1.2
> 2008.1.25
本滤镜多用于: 去除视频上叠加的水印,台标等 或 剪除视频画面像素内容!'

gbk_hex() { printf '%s' "$1" | iconv -f UTF-8 -t GBK | od -An -v -tx1 | tr -d ' \n'; }

dump=$("$run_wine" "$prefix" "$program" dump-texts | tr -d '\r')
status=0
for field in name maker description; do
  expected=$(gbk_hex "${!field}")
  actual=$(sed -n "s/^$field //p" <<<"$dump")
  if [ "$actual" = "$expected" ]; then
    echo "$field: GBK bytes match"
  else
    echo "FAIL: $field is $actual, expected $expected"
    status=1
  fi
done
exit $status
