# Sources of the effect in host/.
